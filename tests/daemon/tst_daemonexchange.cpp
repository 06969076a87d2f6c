// One exchange with the daemon end to end, against a fake daemon on a thread
// of its own: well-formed replies, and daemons that are missing, slow,
// broken or hostile. Every exchange must end, with the expected result, in
// bounded time. (What the bytes of a reply mean, once all are in, is
// tst_daemonreply's.)

#include "daemon/daemonclient.h"
#include "fakedaemon.h"
#include "plugin/devicepaths.h"

#include <QFile>
#include <QtTest>

using zorvi::DaemonClient;

namespace {

enum class Daemon { Missing, StaleSocketFile, Scripted };

// Sends each byte on its own, the given time apart.
ReplyScript dripFeed(const QByteArray &bytes, int intervalMs)
{
    ReplyScript script;
    for (char byte : bytes)
        script.pieces.append({intervalMs, QByteArray(1, byte)});
    return script;
}

// A 200 reply of exactly SIZE bytes: "[0]" padded with whitespace.
QByteArray replyOfSize(int size)
{
    QByteArray reply("HTTP/1.1 200 OK\r\n\r\n[0]");
    return reply + QByteArray(size - reply.size(), ' ');
}

} // namespace

Q_DECLARE_METATYPE(Daemon)

class TestDaemonExchange : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(QString::fromLatin1(zorvi::daemonSocket)); }

    void exchange_data()
    {
        QTest::addColumn<Daemon>("daemon");
        QTest::addColumn<ReplyScript>("script");
        QTest::addColumn<int>("status");
        // The document in compact form; empty for a null document.
        QTest::addColumn<QByteArray>("json");
        // Bounds of the time the exchange may take.
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");

        const Daemon d = Daemon::Scripted;
        const QByteArray header("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n");
        const int limit = DaemonClient::replySizeLimit;

        QTest::newRow("a 204 of a status line and a blank line has no document")
            << d << ReplyScript::at("HTTP/1.1 204 No Content\r\n\r\n") << 204 << QByteArray() << 0
            << 500;
        QTest::newRow("a reply in pieces over 3.6 s, each pause under the wait, is kept whole")
            << d
            << ReplyScript{{{0, "HTTP/1.1 200"},
                            {1200, " OK\r\n"},
                            {1200, "\r\n{\"a\":"},
                            {1200, "1}"}}}
            << 200 << QByteArray("{\"a\":1}") << 3550 << 4300;
        QTest::newRow("a complete reply on a connection left open ends after 1500 ms of silence")
            << d << ReplyScript{{{0, header + "[1]"}}, false} << 200 << QByteArray("[1]") << 1450
            << 2200;
        QTest::newRow("a reply of exactly 1 MiB is kept")
            << d << ReplyScript::at(replyOfSize(limit)) << 200 << QByteArray("[0]") << 0 << 1000;

        QTest::newRow("no socket file means no daemon")
            << Daemon::Missing << ReplyScript() << 0 << QByteArray() << 0 << 1600;
        QTest::newRow("a socket file with nobody listening refuses")
            << Daemon::StaleSocketFile << ReplyScript() << 0 << QByteArray() << 0 << 1600;
        QTest::newRow("a daemon that accepts and never answers")
            << d << ReplyScript{{}, false} << 0 << QByteArray() << 1450 << 2200;
        QTest::newRow("half a header and then silence")
            << d << ReplyScript{{{0, "HTTP/1.1 200 OK\r\nContent-"}}, false} << 0 << QByteArray()
            << 1450 << 2200;
        QTest::newRow("a reply one byte over 1 MiB is unusable")
            << d << ReplyScript::at(replyOfSize(limit + 1)) << 0 << QByteArray() << 0 << 1000;
        QTest::newRow("an endless body is dropped at 1 MiB")
            << d
            << ReplyScript{{{0, "HTTP/1.1 200 OK\r\n\r\n["}}, true, false, QByteArray(65536, '0')}
            << 0 << QByteArray() << 0 << 2000;
        QTest::newRow("a reply drip-fed a byte every 300 ms is dropped at the 5 s deadline")
            << d << dripFeed("HTTP/1.1 200 OK\r\n\r\n{\"state\":\"idle\"}", 300) << 0
            << QByteArray() << 4950 << 5700;
    }

    void exchange()
    {
        QFETCH(Daemon, daemon);
        QFETCH(ReplyScript, script);
        QFETCH(int, status);
        QFETCH(QByteArray, json);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);

        QScopedPointer<FakeDaemon> fake;
        if (daemon == Daemon::Scripted) {
            fake.reset(new FakeDaemon(script));
            QVERIFY(fake->isListening());
        } else if (daemon == Daemon::StaleSocketFile) {
            QVERIFY(makeStaleSocketFile(zorvi::daemonSocket));
        }

        QElapsedTimer clock;
        clock.start();
        const zorvi::DaemonReply reply = DaemonClient().request("GET", "/update");
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(reply.status, status);
        // Compared as documents: Qt 5.2 writes compact JSON with spaces.
        QCOMPARE(reply.json, QJsonDocument::fromJson(json));
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs,
                 qPrintable(QString::number(elapsed) + " ms"));
    }
};

QTEST_GUILESS_MAIN(TestDaemonExchange)
#include "tst_daemonexchange.moc"
