// zorvid-keeper as the reader's udev starts it when Wi-Fi comes on, in a
// network namespace of the suite's own where a veth link plays the Wi-Fi
// interface and a folder plays the reader's /usr/local: zorvid answers while
// the interface is there, one at a time, comes back when it ends (later and
// later while it keeps failing), never runs beside an add-on that does not,
// inherits nothing of its starter's, and its log stays bounded.

#include "keeper/keeperlog.h"
#include "scopeexit.h"
#include "zorvidprocess.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString interfaceName = QStringLiteral("wlan0");
const QString logFile = QStringLiteral("/tmp/zorvid.log");
const char keeperLock[] = "/tmp/zorvid-keeper.lock";
const char zorvidLock[] = "/tmp/zorvid.lock";
const QString switchFile = QStringLiteral("/mnt/onboard/.adds/zorvi/disable-plugin");
// What zorvid alone has on its command line.
const QByteArray zorvidMarker = "--wifi-interface";

// The host's `ip` with ARGUMENTS; whether it succeeded.
bool ip(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), arguments);
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool wifiOn()
{
    return ip({"link", "add", interfaceName, "type", "veth", "peer", "name", "phone0"});
}

void wifiOff()
{
    ip({"link", "del", interfaceName});
}

bool answers()
{
    return DaemonClient().pairingStatus().status == 200;
}

QString keeperLog()
{
    return QString::fromUtf8(readFile(logFile));
}

// The processes other than this one whose command line holds MARKER.
QList<qint64> processesWith(const QByteArray &marker)
{
    QList<qint64> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && pid != QCoreApplication::applicationPid() &&
            readFile("/proc/" + entry + "/cmdline").replace('\0', ' ').contains(marker))
            found << pid;
    }
    return found;
}

// The process of the last zorvid the keeper started, as its log says.
qint64 zorvidProcess()
{
    static const QRegularExpression started(QStringLiteral("zorvid started \\(process (\\d+)\\)"));
    qint64 pid = -1;
    QRegularExpressionMatchIterator matches = started.globalMatch(keeperLog());
    while (matches.hasNext())
        pid = matches.next().captured(1).toLongLong();
    return pid;
}

QByteArray linkOf(const QString &path)
{
    char target[PATH_MAX];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return length < 0 ? QByteArray() : QByteArray(target, int(length));
}

bool keeperLockIsFree()
{
    const int fd = ::open(keeperLock, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// Whether some process waits for the keepers' lock, as the kernel's table of
// locks shows it ("->" before a waiter).
bool keeperWaitsForLock()
{
    struct stat status {};
    if (::stat(keeperLock, &status) != 0)
        return false;
    const QByteArray inode = ':' + QByteArray::number(qulonglong(status.st_ino)) + ' ';
    for (const QByteArray &line : readFile(QStringLiteral("/proc/locks")).split('\n'))
        if (line.contains("->") && line.contains(inode))
            return true;
    return false;
}

// The keeper's log with its time stamps as "HH:MM:SS", to compare with what
// was written.
QByteArray unstamped(const QByteArray &log)
{
    static const QRegularExpression stamp(QStringLiteral("^zorvid-keeper \\d\\d:\\d\\d:\\d\\d "),
                                          QRegularExpression::MultilineOption);
    return QString::fromLatin1(log)
        .replace(stamp, QStringLiteral("zorvid-keeper HH:MM:SS "))
        .toLatin1();
}

enum class Ending { WifiOff, KeeperTerminated, ProgramDeleted, ProgramMoved, InstallRemoved };

} // namespace

Q_DECLARE_METATYPE(Ending)

class TestKeeper : public QObject {
    Q_OBJECT

private:
    QTemporaryDir root{QDir::temp().filePath("keeper-root-XXXXXX")};

    QString installDir() const { return root.path() + "/usr/local/zorvi"; }
    QString keeper() const { return installDir() + "/zorvid-keeper"; }
    QString program() const { return installDir() + "/zorvid"; }
    QString library() const { return root.path() + "/usr/local/Kobo/imageformats/libzorvi.so"; }
    QList<qint64> keepers() const { return processesWith(QFile::encodeName(keeper())); }

    // Starts the keeper copy with the interface's name as udev does, through
    // the emulator in a cross build; whether its starting process returned
    // at once and without an error.
    bool startKeeper() const
    {
        QStringList command = QString::fromLatin1(EMULATOR).split(' ');
        command.removeAll(QString());
        command << keeper() << interfaceName;
        QProcess starter;
        QElapsedTimer clock;
        clock.start();
        starter.start(command.takeFirst(), command);
        if (!starter.waitForFinished(5000)) {
            starter.kill();
            starter.waitForFinished(1000);
            return false;
        }
        return clock.elapsed() < 2000 && starter.exitStatus() == QProcess::NormalExit &&
               starter.exitCode() == 0;
    }

    bool nothingRuns() const
    {
        return !QFile::exists(zorvi::daemonSocket) && keeperLockIsFree() && keepers().isEmpty() &&
               processesWith(zorvidMarker).isEmpty();
    }

private slots:
    void initTestCase()
    {
        std::signal(SIGPIPE, SIG_IGN);
        QVERIFY(root.isValid());
        // Interfaces come and go in a network of the suite's own.
        QVERIFY2(::unshare(CLONE_NEWNET) == 0, std::strerror(errno));
        QVERIFY(ip({"link", "set", "lo", "up"}));
    }

    // The add-on installed and on, zorvid beside its keeper, no log.
    void init()
    {
        QDir(installDir()).removeRecursively();
        QVERIFY(QDir().mkpath(installDir()));
        QVERIFY(QFile::copy(KEEPER, keeper()));
        QVERIFY(writeFile(program(), QByteArray("#!/bin/sh\nexec " ZORVID " \"$@\"\n")));
        const QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner |
                                              QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(keeper(), executable));
        QVERIFY(QFile::setPermissions(program(), executable));
        QVERIFY(QDir().mkpath(QFileInfo(library()).path()));
        QFile::remove(library() + ".failsafe");
        QVERIFY(writeFile(library(), QByteArray()));
        QFile::remove(switchFile);
        QFile::remove(logFile);
        QFile::remove(logFile + ".1");
        QFile::remove(zorvi::daemonSocket);
    }

    // Wi-Fi off, and nothing of the keepers or their zorvid left running.
    void cleanup()
    {
        if (QTest::currentTestFailed())
            std::fprintf(stderr, "The keeper's log:\n%s\n", qPrintable(keeperLog()));
        const auto killLeftovers = onScopeExit([this] {
            for (const qint64 pid : keepers() + processesWith(zorvidMarker))
                ::kill(pid_t(pid), SIGKILL);
        });
        wifiOff();
        QTRY_VERIFY_WITH_TIMEOUT(nothingRuns(), 10000);
    }

    // zorvid answers soon after the keeper's start, and whatever ends the
    // keeper stops zorvid first with SIGTERM: its state saved, its socket
    // removed.
    void endingTheKeeperStopsZorvidCleanly_data()
    {
        QTest::addColumn<Ending>("ending");
        QTest::addColumn<QString>("reason");

        QTest::newRow("Wi-Fi going off stops zorvid and its keeper")
            << Ending::WifiOff << "wlan0 is gone";
        QTest::newRow("SIGTERM to the keeper stops zorvid first")
            << Ending::KeeperTerminated << QString();
        QTest::newRow("deleting zorvid's program, as the uninstall does, stops both")
            << Ending::ProgramDeleted << "zorvid is not installed any more";
        QTest::newRow("moving zorvid's program away stops both")
            << Ending::ProgramMoved << "zorvid is not installed any more";
        QTest::newRow("removing the whole install folder stops both")
            << Ending::InstallRemoved << "zorvid is not installed any more";
    }

    void endingTheKeeperStopsZorvidCleanly()
    {
        QFETCH(Ending, ending);
        QFETCH(QString, reason);

        QVERIFY(wifiOn());
        QVERIFY(startKeeper());
        QTRY_VERIFY_WITH_TIMEOUT(answers(), 5000);

        const QList<qint64> running = keepers();
        QCOMPARE(running.size(), 1);
        switch (ending) {
        case Ending::WifiOff:
            wifiOff();
            break;
        case Ending::KeeperTerminated:
            QCOMPARE(::kill(pid_t(running.first()), SIGTERM), 0);
            break;
        case Ending::ProgramDeleted:
            QVERIFY(QFile::remove(program()));
            break;
        case Ending::ProgramMoved:
            QVERIFY(QFile::rename(program(), root.path() + "/zorvid.old"));
            break;
        case Ending::InstallRemoved:
            QVERIFY(QDir(installDir()).removeRecursively());
            break;
        }
        QTRY_VERIFY_WITH_TIMEOUT(nothingRuns(), 10000);

        const QString log = keeperLog();
        if (!reason.isEmpty())
            QVERIFY2(log.contains(reason), qPrintable(log));
        QVERIFY2(log.contains(QRegularExpression(QStringLiteral("^zorvid \\S+ stopped$"),
                                                 QRegularExpression::MultilineOption)),
                 qPrintable(log));
        QVERIFY2(log.contains("zorvid ended with status 0"), qPrintable(log));
        QVERIFY2(log.endsWith(" stopped keeping zorvid\n"), qPrintable(log));
        QCOMPARE(log.count("zorvid started"), 1);
    }

    // A keeper started while another runs waits for it: one zorvid. Wi-Fi
    // off and on again before the first keeper is done: zorvid is back.
    void neverTwoZorvids()
    {
        QVERIFY(wifiOn());
        QVERIFY(startKeeper());
        QTRY_VERIFY_WITH_TIMEOUT(answers(), 5000);
        QVERIFY(startKeeper());
        QTRY_VERIFY_WITH_TIMEOUT(keeperWaitsForLock(), 5000);
        QCOMPARE(processesWith(zorvidMarker).size(), 1);
        QCOMPARE(keeperLog().count("keeping zorvid while"), 1);

        wifiOff();
        QTRY_VERIFY_WITH_TIMEOUT(keeperLog().contains("wlan0 is gone"), 5000);
        QVERIFY(wifiOn());
        QVERIFY(startKeeper());
        QTRY_VERIFY_WITH_TIMEOUT(keeperLog().count("zorvid started") == 2 && answers(), 10000);
        QCOMPARE(processesWith(zorvidMarker).size(), 1);
    }

    void killedZorvidIsStartedAgain()
    {
        QVERIFY(wifiOn());
        QVERIFY(startKeeper());
        QTRY_VERIFY_WITH_TIMEOUT(answers(), 5000);
        const qint64 killed = zorvidProcess();
        QVERIFY(processesWith(zorvidMarker).contains(killed));
        QCOMPARE(::kill(pid_t(killed), SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(zorvidProcess() != killed && answers(), 10000);
        QVERIFY(keeperLog().contains("zorvid was killed by signal 9"));
    }

    // Another zorvid's lock held: each zorvid ends at once, and each start
    // waits twice as long as the one before; released, zorvid is up within
    // the last wait.
    void zorvidEndingSoonIsStartedLaterAndLater()
    {
        const int held = ::open(zorvidLock, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(held >= 0);
        const auto release = onScopeExit([held] { ::close(held); });
        QCOMPARE(::flock(held, LOCK_EX | LOCK_NB), 0);

        QVERIFY(wifiOn());
        QVERIFY(startKeeper());
        const QString soon =
            QStringLiteral("zorvid keeps ending soon after its start; next start in ");
        QTRY_VERIFY_WITH_TIMEOUT(keeperLog().contains(soon + "2 s\n"), 8000);
        QTRY_VERIFY_WITH_TIMEOUT(keeperLog().contains(soon + "4 s\n"), 8000);
        QCOMPARE(keeperLog().count("zorvid started"), 3);
        // zorvid's own reason, from its standard error.
        QVERIFY(keeperLog().contains("another zorvid is running"));

        QCOMPARE(::flock(held, LOCK_UN), 0);
        QTRY_VERIFY_WITH_TIMEOUT(answers(), 4000 + 5000);
    }

    // The add-on will not run at Nickel's next start: zorvid is not started,
    // the keeper ends and says why.
    void addOnThatDoesNotRunKeepsZorvidStopped_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("switchedOff");
        QTest::addColumn<QString>("reason");

        QTest::newRow("switched off on the storage")
            << true << true << "the add-on is switched off";
        QTest::newRow("no library under either name")
            << false << false << "the add-on is not installed";
    }

    void addOnThatDoesNotRunKeepsZorvidStopped()
    {
        QFETCH(bool, installed);
        QFETCH(bool, switchedOff);
        QFETCH(QString, reason);

        if (!installed)
            QVERIFY(QFile::remove(library()));
        if (switchedOff) {
            QVERIFY(QDir().mkpath(QFileInfo(switchFile).path()));
            QVERIFY(writeFile(switchFile, QByteArray()));
        }
        QVERIFY(wifiOn());
        QVERIFY(startKeeper());
        QTRY_VERIFY_WITH_TIMEOUT(
            keeperLog().contains("not starting zorvid: " + reason) && nothingRuns(), 5000);
        QVERIFY(!keeperLog().contains("zorvid started"));
    }

    // Neither the keeper nor zorvid holds a file its starter left open or
    // keeps the starter's folder; zorvid reads /dev/null and has an
    // environment of its own.
    void zorvidInheritsNothing()
    {
        const QString marker = root.path() + "/inherited";
        QVERIFY(writeFile(marker, "open in the starter"));
        const int inherited = ::open(QFile::encodeName(marker).constData(), O_RDONLY);
        QVERIFY(inherited >= 0);
        const auto closeMarker = onScopeExit([inherited] { ::close(inherited); });
        qputenv("ZORVI_INHERITED", "from the starter");
        const auto unset = onScopeExit([] { qunsetenv("ZORVI_INHERITED"); });
        const QString startedIn = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root.path()));
        const auto back = onScopeExit([startedIn] { QDir::setCurrent(startedIn); });

        QVERIFY(wifiOn());
        QVERIFY(startKeeper());
        QTRY_VERIFY_WITH_TIMEOUT(answers(), 5000);

        const qint64 zorvid = zorvidProcess();
        const QList<qint64> running = keepers();
        QCOMPARE(running.size(), 1);
        for (const qint64 pid : {running.first(), zorvid}) {
            const QString process = QStringLiteral("/proc/%1").arg(pid);
            QCOMPARE(linkOf(process + "/cwd"), QByteArray("/"));
            const QStringList descriptors =
                QDir(process + "/fd").entryList(QDir::Files | QDir::System);
            QVERIFY(!descriptors.isEmpty());
            for (const QString &fd : descriptors)
                QVERIFY2(linkOf(process + "/fd/" + fd) != QFile::encodeName(marker),
                         qPrintable(process + "/fd/" + fd));
        }
        const QString zorvidFds = QStringLiteral("/proc/%1/fd/").arg(zorvid);
        QCOMPARE(linkOf(zorvidFds + "0"), QByteArray("/dev/null"));
        QVERIFY(linkOf(zorvidFds + "2").startsWith("pipe:"));
        QVERIFY(
            !readFile(QStringLiteral("/proc/%1/environ").arg(zorvid)).contains("ZORVI_INHERITED"));
    }

    // Rotated at LIMIT: the log and its older half each hold at most LIMIT
    // (or one write, if longer), the older one was full when it was rotated,
    // and together they are the newest of what was written, nothing lost or
    // repeated between them.
    void logStaysBounded_data()
    {
        QTest::addColumn<bool>("ownLines");
        QTest::addColumn<int>("size");

        QTest::newRow("the keeper's own lines") << true << 40;
        QTest::newRow("zorvid's output in pieces that split its lines") << false << 170;
        QTest::newRow("zorvid's output in pieces longer than the limit") << false << 1500;
    }

    void logStaysBounded()
    {
        QFETCH(bool, ownLines);
        QFETCH(int, size);

        const int limit = 1000;
        QTemporaryDir dir(QDir::temp().filePath("keeper-log-XXXXXX"));
        const QString path = dir.path() + "/zorvid.log";
        zorvid::KeeperLog log(path.toStdString(), limit);
        QByteArray written;
        int longestWrite = 0;
        for (int n = 0; written.size() < 3 * limit; ++n) {
            const QByteArray text = QByteArray::number(n).leftJustified(size, '.');
            QByteArray line = text;
            if (ownLines) {
                log.line(std::string(text.constData(), size_t(text.size())));
                line = "zorvid-keeper HH:MM:SS " + text + '\n';
            } else {
                // A line break in the middle, as pieces of a pipe come.
                line[size / 2] = '\n';
                log.append(line.constData(), line.size());
            }
            written += line;
            longestWrite = qMax(longestWrite, line.size());
        }
        const QByteArray newer = unstamped(readFile(path));
        const QByteArray older = unstamped(readFile(path + ".1"));
        QVERIFY(newer.size() <= qMax(limit, longestWrite));
        QVERIFY(older.size() <= qMax(limit, longestWrite));
        QVERIFY(older.size() > limit - longestWrite);
        QVERIFY(!newer.isEmpty());
        QVERIFY(written.endsWith(older + newer));
    }
};

QTEST_GUILESS_MAIN(TestKeeper)
#include "tst_keeper.moc"
