// zorvid's socket under malformed, oversized and slow requests, and a second
// daemon started beside it:
// each gets a status and a log line, and none of them keeps the daemon from
// answering the add-on at once.

#include "daemon/daemonclient.h"
#include "plugin/devicepaths.h"
#include "zorvidfixture.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QtTest>

using zorvi::DaemonClient;

namespace {

const int requestTimeoutMs = 500;

QByteArray headed(const QByteArray &requestLine, const QByteArray &fields = QByteArray())
{
    return requestLine + "\r\n" + fields + "\r\n";
}

} // namespace

class TestZorvidWire : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(daemon.start({"--request-timeout", QString::number(requestTimeoutMs)}));
    }
    void cleanupTestCase() { QVERIFY2(daemon.stop(), qPrintable(daemon.log())); }

    void everyRequestGetsOneFramedReply_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");

        const QByteArray fields = "X-Filler: " + QByteArray(100, 'f') + "\r\n";
        const QByteArray get = "GET /clients HTTP/1.1";

        QTest::newRow("the add-on's GET /clients: a JSON array")
            << addOnRequest("GET", "/clients") << 200;
        QTest::newRow("the add-on's DELETE /pairing: 204 without a body")
            << addOnRequest("DELETE", "/pairing") << 204;
        QTest::newRow("binary noise with NUL bytes")
            << QByteArray("\x00\xff\x13\x37 \x01\x02 \x80\r\n\r\n", 13) << 400;
        QTest::newRow("a target that is not a path")
            << headed("GET http://zorvid/clients HTTP/1.1") << 400;
        QTest::newRow("raw UTF-8 in the target")
            << headed("DELETE /clients/Zo\xc3\xab HTTP/1.1") << 400;
        QTest::newRow("a header line without a colon") << headed(get, "Host zorvid\r\n") << 400;
        QTest::newRow("a Content-Length that is not a number")
            << headed(get, "Content-Length: 5x\r\n") << 400;
        QTest::newRow("two different Content-Lengths")
            << headed(get, "Content-Length: 0\r\nContent-Length: 4\r\n") << 400;
        QTest::newRow("HTTP/2.0") << headed("GET /clients HTTP/2.0") << 505;
        QTest::newRow("a chunked body")
            << headed("POST /pairing HTTP/1.1", "Transfer-Encoding: chunked\r\n") + "0\r\n\r\n"
            << 501;
        QTest::newRow("an unknown path") << addOnRequest("GET", "/status") << 404;
        QTest::newRow("a path that only begins like an endpoint")
            << addOnRequest("GET", "/clientsx") << 404;
        QTest::newRow("an encoded endpoint name is not decoded into one")
            << addOnRequest("GET", "/%75pdate") << 404;
        QTest::newRow("PUT on /clients") << addOnRequest("PUT", "/clients") << 405;
        QTest::newRow("a request line over 8 KiB")
            << headed("GET /" + QByteArray(9000, 'a')) << 413;
        QTest::newRow("header fields over 8 KiB") << headed(get, fields.repeated(90)) << 413;
        QTest::newRow("9000 bytes without a line break") << QByteArray(9000, 'G') << 413;
        QTest::newRow("a body over 8 KiB")
            << headed("POST /pairing HTTP/1.1", "Content-Length: 100000\r\n") << 413;
        QTest::newRow("a body of an absurd length")
            << headed("POST /pairing HTTP/1.1", "Content-Length: 99999999999999999\r\n") << 413;
    }

    void everyRequestGetsOneFramedReply()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);

        const int linesBefore = daemon.log().count('\n');
        const RawReply reply = exchange(request);
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.framed, reply.head.constData());
        if (status >= 400)
            QVERIFY(reply.body.contains("\"error\""));
        if (status == 405)
            QVERIFY(reply.head.contains("\r\nAllow: "));

        // One log line, with the status, and the add-on is still served.
        QTRY_COMPARE_WITH_TIMEOUT(daemon.log().count('\n'), linesBefore + 1, 2000);
        const QString line = daemon.log().section('\n', -2, -2);
        QVERIFY2(line.contains(QRegularExpression(QStringLiteral(" %1( |$)").arg(status))),
                 qPrintable(line));
        QCOMPARE(DaemonClient().pairingStatus().status, 200);
        QTRY_COMPARE_WITH_TIMEOUT(daemon.log().count('\n'), linesBefore + 2, 2000);
    }

    void stalledClientsDoNotHoldUpOthers_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("a client that sends nothing") << QByteArray();
        QTest::newRow("a client that stops in the header fields")
            << QByteArray("GET /clients HTTP/1.1\r\nHost: zor");
        QTest::newRow("a client that sends less body than it announced")
            << headed("GET /clients HTTP/1.1", "Content-Length: 10\r\n") + "abc";
    }

    void stalledClientsDoNotHoldUpOthers()
    {
        QFETCH(QByteArray, sent);

        QLocalSocket stalled;
        stalled.connectToServer(QString::fromLatin1(zorvi::daemonSocket));
        QVERIFY(stalled.waitForConnected(1000));
        stalled.write(sent);
        stalled.flush();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(DaemonClient().listClients().status, 200);
        QVERIFY2(clock.elapsed() < requestTimeoutMs / 2,
                 qPrintable(QString::number(clock.elapsed())));

        // The stalled client itself gets 408 once its time is up.
        QByteArray received;
        QTRY_VERIFY_WITH_TIMEOUT(
            (received += stalled.readAll(), stalled.state() == QLocalSocket::UnconnectedState),
            requestTimeoutMs + 2000);
        QVERIFY(received.startsWith("HTTP/1.1 408 "));
        QVERIFY(clock.elapsed() >= requestTimeoutMs - 100);
    }

    void aSecondDaemonLeavesTheLiveOneAlone()
    {
        Zorvid second;
        QVERIFY(!second.start());
        QCOMPARE(second.process.exitCode(), 1);
        QVERIFY2(second.log().contains(QStringLiteral("another daemon is listening")),
                 qPrintable(second.log()));
        QCOMPARE(DaemonClient().pairingStatus().status, 200);
    }

private:
    Zorvid daemon;
};

QTEST_GUILESS_MAIN(TestZorvidWire)
#include "tst_zorvidwire.moc"
