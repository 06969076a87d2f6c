// The daemon's endpoints as operations of the client: the exact bytes each
// one sends, and how it reads the status, for the operations that answer yes
// or no and for the ids a disconnection puts in its path. (The operations that
// return the reply itself are used against the real daemon in tests/zorvid;
// without a daemon, every operation fails as one exchange does: see
// tst_daemonexchange.)

#include "daemon/daemonclient.h"
#include "fakedaemon.h"
#include "plugin/devicepaths.h"

#include <QFile>
#include <QtTest>

#include <functional>

using zorvi::DaemonClient;
using Question = std::function<bool(const DaemonClient &)>;
Q_DECLARE_METATYPE(Question)

class TestDaemonApi : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(QString::fromLatin1(zorvi::daemonSocket)); }

    void operations_data()
    {
        // An operation and the yes or no it returns for the reply.
        QTest::addColumn<Question>("operation");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArray>("requestLine");
        QTest::addColumn<bool>("answer");

        const auto disconnecting = [](const QString &id) {
            return Question([id](const DaemonClient &c) { return c.disconnectClient(id); });
        };
        const Question check = &DaemonClient::checkForUpdate;
        const Question restart = &DaemonClient::restartForUpdate;
        const QByteArray ok = "200 OK", accepted = "202 Accepted", noContent = "204 No Content";

        QTest::newRow("a check answered 202 started")
            << check << accepted << QByteArray("POST /update/check") << true;
        QTest::newRow("a check answered 204 did not start")
            << check << noContent << QByteArray("POST /update/check") << false;
        QTest::newRow("a restart answered 202 is under way")
            << restart << accepted << QByteArray("POST /update/restart") << true;
        QTest::newRow("a restart answered 200 is not")
            << restart << ok << QByteArray("POST /update/restart") << false;
        QTest::newRow("an id of unreserved characters is sent unchanged and answered 204")
            << disconnecting("Kobo-Phone.2b_~") << noContent
            << QByteArray("DELETE /clients/Kobo-Phone.2b_~") << true;
        QTest::newRow("a disconnection answered 200 failed")
            << disconnecting("p1") << ok << QByteArray("DELETE /clients/p1") << false;
        QTest::newRow("a slash or a space in an id cannot add a path segment")
            << disconnecting("../my phone/2") << noContent
            << QByteArray("DELETE /clients/..%2Fmy%20phone%2F2") << true;
        QTest::newRow("reserved characters and CR LF are encoded in upper-case hex")
            << disconnecting("?a=b#c%\r\n") << noContent
            << QByteArray("DELETE /clients/%3Fa%3Db%23c%25%0D%0A") << true;
        QTest::newRow("a non-ASCII id is sent as its encoded UTF-8 bytes")
            << disconnecting(QStringLiteral("Jürgen’s")) << noContent
            << QByteArray("DELETE /clients/J%C3%BCrgen%E2%80%99s") << true;
    }

    void operations()
    {
        QFETCH(Question, operation);
        QFETCH(QByteArray, statusLine);
        QFETCH(QByteArray, requestLine);
        QFETCH(bool, answer);

        FakeDaemon fake(ReplyScript::at("HTTP/1.1 " + statusLine + "\r\n\r\n"));
        QVERIFY(fake.isListening());
        QCOMPARE(operation(DaemonClient()), answer);
        QCOMPARE(fake.requests(),
                 QList<QByteArray>{requestLine + " HTTP/1.1\r\nHost: zorvid\r\nContent-Length: "
                                                 "0\r\nConnection: close\r\n\r\n"});
    }
};

QTEST_GUILESS_MAIN(TestDaemonApi)
#include "tst_daemonapi.moc"
