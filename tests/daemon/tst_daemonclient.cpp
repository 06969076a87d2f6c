// The client of the daemon: one exchange end to end against a fake daemon
// that is missing, slow, broken or hostile (each must end with the expected
// result in bounded time), and the exact bytes each operation sends. (What
// the bytes of a reply mean: fuzz/fuzz_reply.cpp, which runs every seed of
// fuzz/corpus/reply each time.)

#include "daemon/daemonclient.h"
#include "fakedaemon.h"
#include "plugin/devicepaths.h"

#include <QtTest>

#include <functional>

using zorvi::DaemonClient;
using Question = std::function<bool(const DaemonClient &)>;

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
Q_DECLARE_METATYPE(Question)

class TestDaemonClient : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(QString::fromLatin1(zorvi::daemonSocket)); }

    void exchange_data()
    {
        QTest::addColumn<Daemon>("daemon");
        QTest::addColumn<ReplyScript>("script");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("json");
        // Bounds of the time the exchange may take.
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");

        const Daemon d = Daemon::Scripted;
        const QByteArray header("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n");
        const int limit = DaemonClient::replySizeLimit;

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
        QTest::newRow("a reply one byte over 1 MiB is unusable")
            << d << ReplyScript::at(replyOfSize(limit + 1)) << 0 << QByteArray() << 0 << 1000;
        QTest::newRow("a body that goes on past 1 MiB is dropped there, without waiting for more")
            << d
            << ReplyScript{{{0, "HTTP/1.1 200 OK\r\n\r\n[" + QByteArray(2 * limit, '0')}}, false}
            << 0 << QByteArray() << 0 << 1400;
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
        QCOMPARE(reply.json, QJsonDocument::fromJson(json));
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs,
                 qPrintable(QString::number(elapsed) + " ms"));
    }

    // The exact bytes of a request, and an id that could add header lines
    // if sent as it is. (The statuses that accept a check or a restart:
    // tst_panel and tst_startup; ids end to end and the other operations:
    // against zorvid in tests/zorvid.)
    void operations_data()
    {
        QTest::addColumn<Question>("operation");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArray>("requestLine");

        const auto disconnecting = [](const QString &id) {
            return Question([id](const DaemonClient &c) { return c.disconnectClient(id); });
        };
        const QByteArray noContent = "204 No Content";

        QTest::newRow("a check answered 202 started")
            << Question(&DaemonClient::checkForUpdate) << QByteArray("202 Accepted")
            << QByteArray("POST /update/check");
        QTest::newRow("an id of unreserved characters is sent unchanged and answered 204")
            << disconnecting("Kobo-Phone.2b_~") << noContent
            << QByteArray("DELETE /clients/Kobo-Phone.2b_~");
        QTest::newRow("reserved characters and CR LF are encoded in upper-case hex")
            << disconnecting("?a=b#c%\r\n") << noContent
            << QByteArray("DELETE /clients/%3Fa%3Db%23c%25%0D%0A");
    }

    void operations()
    {
        QFETCH(Question, operation);
        QFETCH(QByteArray, statusLine);
        QFETCH(QByteArray, requestLine);

        FakeDaemon fake(ReplyScript::at("HTTP/1.1 " + statusLine + "\r\n\r\n"));
        QVERIFY(fake.isListening());
        QVERIFY(operation(DaemonClient()));
        QCOMPARE(fake.requests(),
                 QList<QByteArray>{requestLine + " HTTP/1.1\r\nHost: zorvid\r\nContent-Length: "
                                                 "0\r\nConnection: close\r\n\r\n"});
    }
};

QTEST_GUILESS_MAIN(TestDaemonClient)
#include "tst_daemonclient.moc"
