// The daemon's endpoints as operations of the client: the exact bytes each
// one sends, and how the yes/no operations read the status.

#include "daemon/daemonclient.h"
#include "fakedaemon.h"
#include "plugin/devicepaths.h"

#include <QFile>
#include <QtTest>

#include <functional>

using zorvi::DaemonClient;

using Call = std::function<void(const DaemonClient &)>;
using Question = std::function<bool(const DaemonClient &)>;
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(Question)

namespace {

QByteArray requestBytes(const QByteArray &method, const QByteArray &path)
{
    return method + ' ' + path +
           " HTTP/1.1\r\nHost: zorvid\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

Call disconnecting(const QString &id)
{
    return [id](const DaemonClient &client) {
        client.disconnectClient(id);
    };
}

} // namespace

class TestDaemonApi : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(QString::fromLatin1(zorvi::daemonSocket)); }

    void sentBytes_data();
    void sentBytes();
    void yesNoAnswers_data();
    void yesNoAnswers();
    void everyOperationWithoutDaemon();
};

void TestDaemonApi::sentBytes_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("a plain DELETE of /pairing is sent as the template and nothing else")
        << Call([](const DaemonClient &c) { c.request("DELETE", "/pairing"); })
        << requestBytes("DELETE", "/pairing");
    QTest::newRow("startPairing posts to /pairing")
        << Call(&DaemonClient::startPairing) << requestBytes("POST", "/pairing");
    QTest::newRow("pairingStatus gets /pairing")
        << Call(&DaemonClient::pairingStatus) << requestBytes("GET", "/pairing");
    QTest::newRow("cancelPairing deletes /pairing")
        << Call(&DaemonClient::cancelPairing) << requestBytes("DELETE", "/pairing");
    QTest::newRow("listClients gets /clients")
        << Call(&DaemonClient::listClients) << requestBytes("GET", "/clients");
    QTest::newRow("updateStatus gets /update")
        << Call(&DaemonClient::updateStatus) << requestBytes("GET", "/update");
    QTest::newRow("checkForUpdate posts to /update/check")
        << Call(&DaemonClient::checkForUpdate) << requestBytes("POST", "/update/check");
    QTest::newRow("restartForUpdate posts to /update/restart")
        << Call(&DaemonClient::restartForUpdate) << requestBytes("POST", "/update/restart");
    QTest::newRow("an id of letters, digits, hyphens and dots is sent unchanged")
        << disconnecting("Kobo-Phone.2b") << requestBytes("DELETE", "/clients/Kobo-Phone.2b");
    QTest::newRow("underscores and tildes are unreserved too")
        << disconnecting("a_b~c") << requestBytes("DELETE", "/clients/a_b~c");
    QTest::newRow("a space and a slash in an id become %20 and %2F")
        << disconnecting("my phone/2") << requestBytes("DELETE", "/clients/my%20phone%2F2");
    QTest::newRow("an id cannot climb out of /clients")
        << disconnecting("../update/restart")
        << requestBytes("DELETE", "/clients/..%2Fupdate%2Frestart");
    QTest::newRow("reserved characters and CR LF are encoded in upper-case hex")
        << disconnecting("?a=b#c%\r\n") << requestBytes("DELETE", "/clients/%3Fa%3Db%23c%25%0D%0A");
    QTest::newRow("a non-ASCII id is sent as its encoded UTF-8 bytes")
        << disconnecting(QStringLiteral("Jürgen’s"))
        << requestBytes("DELETE", "/clients/J%C3%BCrgen%E2%80%99s");
}

void TestDaemonApi::sentBytes()
{
    QFETCH(Call, call);
    QFETCH(QByteArray, expected);

    FakeDaemon fake(ReplyScript::at("HTTP/1.1 204 No Content\r\n\r\n"));
    QVERIFY(fake.isListening());
    call(DaemonClient());
    QCOMPARE(fake.requests(), QList<QByteArray>{expected});
}

void TestDaemonApi::yesNoAnswers_data()
{
    QTest::addColumn<Question>("question");
    // The daemon's status line; empty when there is no daemon.
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<bool>("expected");

    const Question disconnect = [](const DaemonClient &c) {
        return c.disconnectClient("p1");
    };
    const Question check = &DaemonClient::checkForUpdate;
    const Question restart = &DaemonClient::restartForUpdate;

    QTest::newRow("disconnecting answered with 204 succeeds")
        << disconnect << QByteArray("HTTP/1.1 204 No Content") << true;
    QTest::newRow("disconnecting answered with 200 fails")
        << disconnect << QByteArray("HTTP/1.1 200 OK") << false;
    QTest::newRow("disconnecting answered with 404 fails")
        << disconnect << QByteArray("HTTP/1.1 404 Not Found") << false;
    QTest::newRow("disconnecting without a daemon fails") << disconnect << QByteArray() << false;
    QTest::newRow("checking answered with 202 succeeds")
        << check << QByteArray("HTTP/1.1 202 Accepted") << true;
    QTest::newRow("checking answered with 200 fails")
        << check << QByteArray("HTTP/1.1 200 OK") << false;
    QTest::newRow("checking answered with 204 fails")
        << check << QByteArray("HTTP/1.1 204 No Content") << false;
    QTest::newRow("checking without a daemon fails") << check << QByteArray() << false;
    QTest::newRow("restarting answered with 202 succeeds")
        << restart << QByteArray("HTTP/1.1 202 Accepted") << true;
    QTest::newRow("restarting answered with 200 fails")
        << restart << QByteArray("HTTP/1.1 200 OK") << false;
    QTest::newRow("restarting answered with 204 fails")
        << restart << QByteArray("HTTP/1.1 204 No Content") << false;
    QTest::newRow("restarting answered with 409 fails")
        << restart << QByteArray("HTTP/1.1 409 Conflict") << false;
    QTest::newRow("restarting without a daemon fails") << restart << QByteArray() << false;
}

void TestDaemonApi::yesNoAnswers()
{
    QFETCH(Question, question);
    QFETCH(QByteArray, statusLine);
    QFETCH(bool, expected);

    QScopedPointer<FakeDaemon> fake;
    if (!statusLine.isEmpty()) {
        fake.reset(new FakeDaemon(ReplyScript::at(statusLine + "\r\n\r\n")));
        QVERIFY(fake->isListening());
    }
    QCOMPARE(question(DaemonClient()), expected);
}

void TestDaemonApi::everyOperationWithoutDaemon()
{
    const DaemonClient client;
    QElapsedTimer clock;
    clock.start();

    QCOMPARE(client.startPairing().status, 0);
    QVERIFY(client.startPairing().json.isNull());
    QCOMPARE(client.pairingStatus().status, 0);
    client.cancelPairing();
    QCOMPARE(client.listClients().status, 0);
    QVERIFY(client.listClients().json.isNull());
    QVERIFY(!client.disconnectClient("p1"));
    QCOMPARE(client.updateStatus().status, 0);
    QVERIFY(!client.checkForUpdate());
    QVERIFY(!client.restartForUpdate());

    // Each call alone stays within the 1500 ms connection wait; a missing
    // socket is noticed at once, so all of them together do too.
    QVERIFY2(clock.elapsed() < DaemonClient::waitMs,
             qPrintable(QStringLiteral("took %1 ms").arg(clock.elapsed())));
}

QTEST_GUILESS_MAIN(TestDaemonApi)
#include "tst_daemonapi.moc"
