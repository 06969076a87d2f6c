// The add-on's start-up and failsafe, with the real module loaded by Qt's
// plugin loader into the Nickel stand-in. Every case runs in a private mount
// namespace, so the plugin folder and the reader's storage are fresh tmpfs.

#include "fakedaemon.h"
#include "plugin/devicepaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

const QString pluginRoot = QStringLiteral("/tmp/kobo");
const QString pluginDir = pluginRoot + QStringLiteral("/imageformats");
const QString ownName = pluginDir + QStringLiteral("/libzorvi.so");
const QString failsafeName = ownName + QStringLiteral(".failsafe");

const QString plugLoaded = QStringLiteral("plugin loaded");
const QString stayingOff =
    QStringLiteral("loaded under the failsafe name after an interrupted start; staying off");
const QString notArmed = QStringLiteral("failsafe could not be armed; not starting");
const QString notRestored = QStringLiteral("failsafe: could not restore plugin");
const QString uninstalled = QStringLiteral("uninstalled as asked by .adds/zorvi/uninstall");
const QString restarting = QStringLiteral("restarting to install an update");

// The start-up's own messages in the log, without their time stamps; what
// the add-on's objects log once started (status bars, glyphs) is left out.
QStringList logMessages()
{
    static const QStringList startup{plugLoaded,
                                     stayingOff,
                                     notArmed,
                                     notRestored,
                                     QStringLiteral("disabled by .adds/zorvi/disable-plugin"),
                                     QStringLiteral("no Qt application yet; not starting"),
                                     uninstalled,
                                     restarting};
    QFile file(QString::fromLatin1(zorvi::logFile));
    QStringList messages;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return messages;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString message = QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
        if (startup.contains(message))
            messages << message;
    }
    return messages;
}

bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

bool setReadOnly(const QString &dir, bool readOnly)
{
    if (!readOnly)
        return run(QStringLiteral("umount"), {dir});
    return run(QStringLiteral("mount"), {QStringLiteral("--bind"), dir, dir}) &&
           run(QStringLiteral("mount"),
               {QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), dir});
}

// Which names the library file carries right now.
QString fileState()
{
    const bool own = QFile::exists(ownName);
    const bool failsafe = QFile::exists(failsafeName);
    return own && failsafe ? QStringLiteral("both")
           : own           ? QStringLiteral("own")
           : failsafe      ? QStringLiteral("failsafe")
                           : QStringLiteral("none");
}

// One run of the stand-in with a script of commands.
class Host {
public:
    explicit Host(const QString &script, const QStringList &options = QStringList())
    {
        QFile file(QStringLiteral("/tmp/script-%1").arg(++count));
        file.open(QIODevice::WriteOnly);
        file.write(script.toUtf8());
        file.close();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(NICKEL_SIM),
                      QStringList{QStringLiteral("--plugin-path"), pluginRoot,
                                  QStringLiteral("--script"), file.fileName()} +
                          options);
        started = process.waitForStarted();
    }
    ~Host()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    bool finish(int ms = 30000) { return started && process.waitForFinished(ms); }

    QProcess process;
    bool started = false;
    static int count;
};
int Host::count = 0;

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QDir(QStringLiteral("/mnt/onboard/.adds")).removeRecursively();
        QDir(pluginRoot).removeRecursively();
        QVERIFY(QDir().mkpath(pluginDir));
        QVERIFY(QFile::copy(QStringLiteral(ZORVI_MODULE), ownName));
    }

    void normalStartRestoresAfterTwentySeconds()
    {
        QElapsedTimer clock;
        clock.start();
        Host host(QStringLiteral("wait 22000\nquit\n"));
        QTRY_VERIFY_WITH_TIMEOUT(logMessages().contains(plugLoaded), 10000);
        QCOMPARE(fileState(), QStringLiteral("failsafe"));
        const qint64 loadedAt = clock.elapsed();

        QTRY_COMPARE_WITH_TIMEOUT(fileState(), QStringLiteral("own"), 25000);
        const qint64 armedFor = clock.elapsed() - loadedAt;
        QVERIFY2(armedFor > 19000, qPrintable(QString::number(armedFor)));

        QVERIFY(host.finish());
        QCOMPARE(host.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(logMessages(), QStringList{plugLoaded});
    }

    void standsDownWithoutStarting_data()
    {
        QTest::addColumn<bool>("switchFile");
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("finalState");
        QTest::newRow("the switch file turns it off and restores at once")
            << true << false << QStringLiteral("disabled by .adds/zorvi/disable-plugin")
            << QStringLiteral("own");
        QTest::newRow("a read-only plugin folder keeps it from arming")
            << false << true << notArmed << QStringLiteral("own");
        QTest::newRow("the switch file is not even read when arming fails")
            << true << true << notArmed << QStringLiteral("own");
    }

    void standsDownWithoutStarting()
    {
        QFETCH(bool, switchFile);
        QFETCH(bool, readOnlyFolder);
        QFETCH(QString, message);
        QFETCH(QString, finalState);
        if (switchFile) {
            QVERIFY(QDir().mkpath(QString::fromLatin1(zorvi::addonDir)));
            QFile file(QString::fromLatin1(zorvi::switchFile));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (readOnlyFolder)
            QVERIFY(setReadOnly(pluginDir, true));

        Host host(QStringLiteral("wait 300\nfind zorviStatusIcon\nquit\n"));
        QVERIFY(host.finish());
        if (readOnlyFolder)
            QVERIFY(setReadOnly(pluginDir, false));

        QCOMPARE(host.process.exitCode(), 0);
        // Nothing started: no icon in Nickel's status bar.
        QVERIFY(host.process.readAllStandardOutput().contains("find zorviStatusIcon: not found"));
        QCOMPARE(logMessages(), QStringList{message});
        QCOMPARE(fileState(), finalState);
    }

    void uninstallRemovesEveryName_data()
    {
        QTest::addColumn<bool>("failsafeCopy");
        QTest::newRow("the library under its own name") << false;
        QTest::newRow("a reinstall beside a failsafe copy") << true;
    }

    void uninstallRemovesEveryName()
    {
        QFETCH(bool, failsafeCopy);
        if (failsafeCopy)
            QVERIFY(QFile::copy(ownName, failsafeName));
        QVERIFY(QDir().mkpath(QString::fromLatin1(zorvi::addonDir)));
        QFile request(QString::fromLatin1(zorvi::uninstallFile));
        QVERIFY(request.open(QIODevice::WriteOnly));
        request.close();

        Host host(QStringLiteral("wait 300\nfind zorviStatusIcon\nquit\n"));
        QVERIFY(host.finish());
        QCOMPARE(host.process.exitCode(), 0);
        QVERIFY(host.process.readAllStandardOutput().contains("find zorviStatusIcon: not found"));
        QCOMPARE(fileState(), QStringLiteral("none"));
        QVERIFY(!request.exists());
        QCOMPARE(logMessages(), QStringList{uninstalled});
    }

    void withoutApplicationObject()
    {
        QVERIFY(run(QStringLiteral(BARE_HOST), {ownName}));
        QCOMPARE(logMessages(), QStringList{QStringLiteral("no Qt application yet; not starting")});
        QCOMPARE(fileState(), QStringLiteral("own"));
    }

    void failedRestoreIsLoggedOnce()
    {
        Host host(QStringLiteral("wait 25000\nquit\n"));
        QTRY_VERIFY_WITH_TIMEOUT(logMessages().contains(plugLoaded), 10000);
        QVERIFY(setReadOnly(pluginDir, true));

        QVERIFY(host.finish());
        QVERIFY(setReadOnly(pluginDir, false));
        QCOMPARE(logMessages(), (QStringList{plugLoaded, notRestored}));
        QCOMPARE(fileState(), QStringLiteral("failsafe"));
    }

    void crashKeepsItOffAtNextStart()
    {
        Host crashing(QStringLiteral("wait 1500\ncrash\n"));
        QVERIFY(crashing.finish());
        QCOMPARE(crashing.process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(fileState(), QStringLiteral("failsafe"));

        Host next(QStringLiteral("wait 1500\nquit\n"));
        QVERIFY(next.finish());
        QCOMPARE(next.process.exitCode(), 0);
        QCOMPARE(logMessages(), (QStringList{plugLoaded, stayingOff}));
        QCOMPARE(fileState(), QStringLiteral("failsafe"));
    }

    // "Restart and update" tapped within Nickel's first twenty seconds: the
    // restart is asked for, not a failed start, so the library has its own
    // name when the reader goes down, and the next start starts the add-on.
    // A restart that does not happen leaves the failsafe armed.
    void restartAskedForKeepsItOn_data()
    {
        QTest::addColumn<bool>("nickelReboots"); // else the daemon is asked
        QTest::addColumn<int>("daemonAnswer");
        QTest::addColumn<QString>("stateAfter");
        QTest::newRow("through Nickel's reboot") << true << 404 << QStringLiteral("own");
        QTest::newRow("through the daemon") << false << 202 << QStringLiteral("own");
        QTest::newRow("the daemon refuses: still armed") << false << 500 << QStringLiteral("failsafe");
    }

    void restartAskedForKeepsItOn()
    {
        QFETCH(bool, nickelReboots);
        QFETCH(int, daemonAnswer);
        QFETCH(QString, stateAfter);
        const auto reply = [](int status, const QByteArray &body) {
            return ReplyScript::at("HTTP/1.1 " + QByteArray::number(status) +
                                   " X\r\nConnection: close\r\n\r\n" + body);
        };
        FakeDaemon daemon(reply(200, "{}"));
        daemon.route("GET /update", reply(200, R"({"state":"ready","version":"2.1.0"})"));
        daemon.route("POST /update/restart", reply(daemonAnswer, "{}"));
        QVERIFY(daemon.isListening());

        Host host(QStringLiteral("wait 1000\ntap zorviStatusIcon\ntap-text Restart and update\n"
                                 "wait 300\nquit\n"),
                  nickelReboots ? QStringList() : QStringList{QStringLiteral("--no-power-manager")});
        QVERIFY(host.finish());
        QCOMPARE(host.process.exitCode(), nickelReboots ? 3 : 0);
        QCOMPARE(logMessages(), (QStringList{plugLoaded, restarting}));
        QCOMPARE(fileState(), stateAfter);
        if (stateAfter != QLatin1String("own"))
            return;

        Host next(QStringLiteral("wait 300\nquit\n"));
        QVERIFY(next.finish());
        QCOMPARE(logMessages(), (QStringList{plugLoaded, restarting, plugLoaded}));
    }

    void reinstallBesideFailsafeStartsOnce()
    {
        // An interrupted start left the failsafe copy; a reinstall then puts
        // the library back under its own name, so Qt finds both files.
        QVERIFY(QFile::copy(ownName, failsafeName));

        Host host(QStringLiteral("wait 22000\nquit\n"));
        QTRY_VERIFY_WITH_TIMEOUT(logMessages().contains(plugLoaded), 10000);
        QCOMPARE(fileState(), QStringLiteral("failsafe"));
        QTRY_COMPARE_WITH_TIMEOUT(fileState(), QStringLiteral("own"), 25000);
        QVERIFY(host.finish());

        QStringList messages = logMessages();
        messages.removeAll(stayingOff);
        QCOMPARE(messages, QStringList{plugLoaded});
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
