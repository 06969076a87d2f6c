// zorvid's socket under malformed, oversized, slow and too many requests:
// each gets a status and a log line, and none of them stops the daemon from
// answering the add-on at once.

#include "daemon/daemonclient.h"
#include "plugin/devicepaths.h"
#include "rawexchange.h"
#include "zorvidprocess.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QtTest>

#include <memory>
#include <vector>

using zorvi::DaemonClient;

namespace {

const int requestTimeoutMs = 1000;

QByteArray headed(const QByteArray &requestLine, const QByteArray &fields = QByteArray())
{
    return requestLine + "\r\n" + fields + "\r\n";
}

} // namespace

class TestZorvidWire : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void everyRequestGetsOneFramedReply_data();
    void everyRequestGetsOneFramedReply();
    void stalledClientsDoNotHoldUpOthers_data();
    void stalledClientsDoNotHoldUpOthers();
    void connectionsOverTheLimitAreTurnedAway();

private:
    ZorvidProcess daemon;
};

void TestZorvidWire::initTestCase()
{
    QVERIFY(daemon.start({QStringLiteral("--request-timeout"), QString::number(requestTimeoutMs)}));
}

void TestZorvidWire::cleanupTestCase()
{
    QVERIFY2(daemon.stop(), qPrintable(daemon.log()));
}

void TestZorvidWire::everyRequestGetsOneFramedReply_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");

    const QByteArray longPath = '/' + QByteArray(9000, 'a');
    const QByteArray manyFields = QByteArray("X-Filler: ") + QByteArray(100, 'f') + "\r\n";

    QTest::newRow("the add-on's GET /clients is answered with a JSON array")
        << addOnRequest("GET", "/clients") << 200;
    QTest::newRow("the add-on's DELETE /pairing is answered 204 without a body")
        << addOnRequest("DELETE", "/pairing") << 204;
    QTest::newRow("a query string is ignored") << addOnRequest("GET", "/clients?page=2") << 200;
    QTest::newRow("lines ending in a bare line feed are read")
        << QByteArray("GET /clients HTTP/1.1\nHost: zorvid\n\n") << 200;
    QTest::newRow("a small body is read and ignored")
        << headed("GET /clients HTTP/1.1", "Content-Length: 5\r\n") + "hello" << 200;

    QTest::newRow("garbage without spaces is a bad request") << headed("hello") << 400;
    QTest::newRow("binary noise is a bad request")
        << QByteArray("\x00\xff\x13\x37 \x01\x02 \x80\r\n\r\n", 13) << 400;
    QTest::newRow("a request line of two fields is a bad request") << headed("GET /clients") << 400;
    QTest::newRow("a double space in the request line is a bad request")
        << headed("GET  /clients HTTP/1.1") << 400;
    QTest::newRow("a target that is not a path is a bad request")
        << headed("GET http://zorvid/clients HTTP/1.1") << 400;
    QTest::newRow("raw UTF-8 in the target is a bad request")
        << headed("DELETE /clients/Zo\xc3\xab HTTP/1.1") << 400;
    QTest::newRow("a protocol that is not HTTP is a bad request")
        << headed("GET /clients FTP/1.0") << 400;
    QTest::newRow("HTTP/2.0 is not supported") << headed("GET /clients HTTP/2.0") << 505;
    QTest::newRow("a header line without a colon is a bad request")
        << headed("GET /clients HTTP/1.1", "Host zorvid\r\n") << 400;
    QTest::newRow("a space before a header's colon is a bad request")
        << headed("GET /clients HTTP/1.1", "Host : zorvid\r\n") << 400;
    QTest::newRow("a folded header line is a bad request")
        << headed("GET /clients HTTP/1.1", "X-A: 1\r\n  2\r\n") << 400;
    QTest::newRow("a NUL byte in a header value is a bad request")
        << headed("GET /clients HTTP/1.1", QByteArray("X-A: a\0b\r\n", 10)) << 400;
    QTest::newRow("a Content-Length that is not a number is a bad request")
        << headed("GET /clients HTTP/1.1", "Content-Length: 5x\r\n") << 400;
    QTest::newRow("two different Content-Lengths are a bad request")
        << headed("GET /clients HTTP/1.1", "Content-Length: 0\r\nContent-Length: 4\r\n") << 400;
    QTest::newRow("a chunked body is not supported")
        << headed("POST /pairing HTTP/1.1", "Transfer-Encoding: chunked\r\n") + "0\r\n\r\n"
        << 501;

    QTest::newRow("an unknown path is not found") << addOnRequest("GET", "/status") << 404;
    QTest::newRow("a path that only begins like an endpoint is not found")
        << addOnRequest("GET", "/clientsx") << 404;
    QTest::newRow("an encoded endpoint name is not decoded into one")
        << addOnRequest("GET", "/%75pdate") << 404;
    QTest::newRow("PUT on /clients is the wrong method") << addOnRequest("PUT", "/clients") << 405;
    QTest::newRow("GET on one client is the wrong method")
        << addOnRequest("GET", "/clients/phone") << 405;
    QTest::newRow("DELETE on /update is the wrong method")
        << addOnRequest("DELETE", "/update") << 405;

    QTest::newRow("a request line over 8 KiB is too large")
        << headed("GET " + longPath + " HTTP/1.1") << 413;
    QTest::newRow("header fields over 8 KiB are too large")
        << headed("GET /clients HTTP/1.1", manyFields.repeated(90)) << 413;
    QTest::newRow("8 KiB without a line break is too large") << QByteArray(9000, 'G') << 413;
    QTest::newRow("a body over 8 KiB is too large")
        << headed("POST /pairing HTTP/1.1", "Content-Length: 100000\r\n") << 413;
    QTest::newRow("a body of an absurd length is too large")
        << headed("POST /pairing HTTP/1.1", "Content-Length: 99999999999999999\r\n") << 413;
}

void TestZorvidWire::everyRequestGetsOneFramedReply()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);

    const int linesBefore = daemon.linesFrom(0).size();
    const RawReply reply = RawReply::parse(exchangeOnSocket(request));
    QCOMPARE(reply.status, status);
    QVERIFY2(reply.framingProblem.isEmpty(), qPrintable(reply.framingProblem));
    if (status >= 400)
        QVERIFY(reply.body.contains("\"error\""));
    if (status == 405)
        QVERIFY(!reply.header("Allow").isEmpty());

    // One log line for the request, carrying its status.
    QTRY_COMPARE_WITH_TIMEOUT(daemon.linesFrom(linesBefore).size(), 1, 2000);
    const QString line = daemon.linesFrom(linesBefore).first();
    QVERIFY2(line.contains(QRegularExpression(QStringLiteral(" %1( |$)").arg(status))),
             qPrintable(line));
    // And the add-on is still served (one more line).
    QCOMPARE(DaemonClient().pairingStatus().status, 200);
    QTRY_COMPARE_WITH_TIMEOUT(daemon.linesFrom(linesBefore).size(), 2, 2000);
}

void TestZorvidWire::stalledClientsDoNotHoldUpOthers_data()
{
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("a client that sends nothing") << QByteArray();
    QTest::newRow("a client that stops in the request line") << QByteArray("GET /cli");
    QTest::newRow("a client that stops in the header fields")
        << QByteArray("GET /clients HTTP/1.1\r\nHost: zor");
    QTest::newRow("a client that sends less body than it announced")
        << headed("GET /clients HTTP/1.1", "Content-Length: 10\r\n") + "abc";
}

void TestZorvidWire::stalledClientsDoNotHoldUpOthers()
{
    QFETCH(QByteArray, sent);

    QLocalSocket stalled;
    stalled.connectToServer(QString::fromLatin1(zorvi::daemonSocket));
    QVERIFY(stalled.waitForConnected(1000));
    stalled.write(sent);
    QVERIFY(sent.isEmpty() || stalled.waitForBytesWritten(1000));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(DaemonClient().listClients().status, 200);
    QVERIFY2(clock.elapsed() < requestTimeoutMs / 2, qPrintable(QString::number(clock.elapsed())));

    // The stalled client itself is answered 408 once its time is up.
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT(
        (received += stalled.readAll(), stalled.state() == QLocalSocket::UnconnectedState),
        requestTimeoutMs + 2000);
    received += stalled.readAll();
    const RawReply reply = RawReply::parse(received);
    QCOMPARE(reply.status, 408);
    QVERIFY2(reply.framingProblem.isEmpty(), qPrintable(reply.framingProblem));
    QVERIFY(clock.elapsed() >= requestTimeoutMs - 100);
}

void TestZorvidWire::connectionsOverTheLimitAreTurnedAway()
{
    // 64 idle connections are as many as the daemon keeps open.
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    for (int i = 0; i < 64; ++i) {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(QString::fromLatin1(zorvi::daemonSocket));
        QVERIFY(idle.back()->waitForConnected(1000));
    }
    QElapsedTimer clock;
    clock.start();
    const RawReply busy = RawReply::parse(exchangeOnSocket(addOnRequest("GET", "/clients")));
    QCOMPARE(busy.status, 503);
    QVERIFY(clock.elapsed() < requestTimeoutMs / 2);

    // Once they are gone, the add-on is served again.
    idle.clear();
    QTRY_COMPARE_WITH_TIMEOUT(DaemonClient().listClients().status, 200, 3000);
}

QTEST_GUILESS_MAIN(TestZorvidWire)
#include "tst_zorvidwire.moc"
