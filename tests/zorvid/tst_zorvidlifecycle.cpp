// zorvid's start and stop: its command line, what it finds at its socket,
// and a clean end on SIGTERM and SIGINT.

#include "daemon/daemonclient.h"
#include "plugin/devicepaths.h"
#include "readonlymount.h"
#include "zorvidprocess.h"

#include <QFile>
#include <QTcpServer>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

using zorvi::DaemonClient;

namespace {

const QString socketPath = QString::fromLatin1(zorvi::daemonSocket);

// A socket file with nobody listening, as a daemon that died leaves it.
bool leaveStaleSocket()
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, zorvi::daemonSocket, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

} // namespace

class TestZorvidLifecycle : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(socketPath); }

    void commandLine_data();
    void commandLine();
    void startsOverAStaleSocketFile();
    void leavesALiveDaemonAlone();
    void leavesAFileThatIsNotASocketAlone();
    void refusesAStateFolderItCannotCreate();
    void refusesAPortInUse();
    void stopsCleanlyOnASignal_data();
    void stopsCleanlyOnASignal();
};

void TestZorvidLifecycle::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");

    QTest::newRow("--help describes the endpoints, the files and the exit codes")
        << QStringList{"--help"} << 0 << "DELETE /clients/ID";
    QTest::newRow("an unknown option is refused") << QStringList{"--colour"} << 2 << "colour";
    QTest::newRow("a port beyond 65535 is refused")
        << QStringList{"--phone-port", "70000"} << 2 << "--phone-port";
    QTest::newRow("a validity of zero seconds is refused")
        << QStringList{"--pairing-seconds", "0"} << 2 << "--pairing-seconds";
    QTest::newRow("a version with letters is refused")
        << QStringList{"--update-available", "2.1.0-beta"} << 2 << "--update-available";
}

void TestZorvidLifecycle::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, said);

    ZorvidProcess daemon;
    QVERIFY(daemon.runToExit(arguments));
    QCOMPARE(daemon.exitCode(), exitCode);
    const QString text = daemon.output() + daemon.log();
    QVERIFY2(text.contains(said), qPrintable(text));
    QVERIFY(!QFile::exists(socketPath));
}

void TestZorvidLifecycle::startsOverAStaleSocketFile()
{
    QVERIFY(leaveStaleSocket());
    QVERIFY(QFile::exists(socketPath));
    ZorvidProcess daemon;
    QVERIFY(daemon.start());
    QCOMPARE(DaemonClient().pairingStatus().status, 200);
}

void TestZorvidLifecycle::leavesALiveDaemonAlone()
{
    ZorvidProcess first;
    QVERIFY(first.start());
    ZorvidProcess second;
    QVERIFY(second.runToExit({}));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(second.log().contains(QStringLiteral("another daemon is listening")),
             qPrintable(second.log()));
    QCOMPARE(DaemonClient().pairingStatus().status, 200);
    QVERIFY(first.isRunning());
}

void TestZorvidLifecycle::leavesAFileThatIsNotASocketAlone()
{
    QFile file(socketPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("notes");
    file.close();
    ZorvidProcess daemon;
    QVERIFY(daemon.runToExit({}));
    QCOMPARE(daemon.exitCode(), 1);
    QVERIFY2(daemon.log().contains(QStringLiteral("is not a socket")), qPrintable(daemon.log()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("notes"));
}

void TestZorvidLifecycle::refusesAStateFolderItCannotCreate()
{
    QTemporaryDir locked(QDir::temp().filePath(QStringLiteral("locked-XXXXXX")));
    const ReadOnlyMount readOnly(locked.path());
    QVERIFY(readOnly.isMounted());
    ZorvidProcess daemon;
    QVERIFY(daemon.runToExit({"--state-dir", locked.filePath(QStringLiteral("state"))}));
    QCOMPARE(daemon.exitCode(), 1);
    QVERIFY2(daemon.log().contains(QStringLiteral("cannot create the state folder")),
             qPrintable(daemon.log()));
    QVERIFY(!QFile::exists(socketPath));
}

void TestZorvidLifecycle::refusesAPortInUse()
{
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    ZorvidProcess daemon;
    QVERIFY(daemon.runToExit({"--phone-port", QString::number(taken.serverPort())}));
    QCOMPARE(daemon.exitCode(), 1);
    QVERIFY2(daemon.log().contains(QStringLiteral("cannot listen on 127.0.0.1")),
             qPrintable(daemon.log()));
}

void TestZorvidLifecycle::stopsCleanlyOnASignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("name");
    QTest::newRow("SIGTERM ends it with status 0") << int(SIGTERM) << "SIGTERM";
    QTest::newRow("SIGINT ends it with status 0") << int(SIGINT) << "SIGINT";
}

void TestZorvidLifecycle::stopsCleanlyOnASignal()
{
    QFETCH(int, signal);
    QFETCH(QString, name);

    ZorvidProcess daemon;
    QVERIFY(daemon.start());
    ::kill(pid_t(daemon.processId()), signal);
    QVERIFY(daemon.waitForExit());
    QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(daemon.exitCode(), 0);
    QVERIFY(daemon.log().contains(QStringLiteral("stopping on ") + name));
    QVERIFY(!QFile::exists(socketPath));
    QCOMPARE(DaemonClient().pairingStatus().status, 0);
}

QTEST_GUILESS_MAIN(TestZorvidLifecycle)
#include "tst_zorvidlifecycle.moc"
