// The add-on's start-up and failsafe, with the real module loaded by Qt's
// plugin loader into the Nickel stand-in. Every case runs in a private mount
// namespace, so the plugin folder and the reader's storage are fresh tmpfs.

#include "addonlog.h"
#include "fakedaemon.h"
#include "plugin/devicepaths.h"

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
const QString uninstalled = QStringLiteral("uninstalled as asked by .adds/zorvi/uninstall");
const QString restarting = QStringLiteral("restarting to install an update");

// The start-up's own messages in the log; what the add-on's objects log
// once started (status bars, glyphs) is left out.
QStringList startupMessages()
{
    return logMessages().filter(QRegularExpression(QStringLiteral(
        "^(plugin loaded|loaded (under|outside)|failsafe|disabled by|no Qt application|"
        "uninstalled|restarting)")));
}

// Which names the library file carries right now.
QString fileState()
{
    static const QStringList states{"none", "own", "failsafe", "both"};
    return states.at(QFile::exists(ownName) + 2 * QFile::exists(failsafeName));
}

// One run of the stand-in with a script of commands.
class Host {
public:
    explicit Host(const QString &script, const QStringList &options = QStringList())
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(
            QStringLiteral(NICKEL_SIM),
            QStringList{QStringLiteral("--plugin-path"), pluginRoot, QStringLiteral("--stdin")} +
                options);
        process.write(script.toUtf8());
        process.closeWriteChannel();
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
};

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

    // A start that nothing interrupts: armed at once, the name given back
    // twenty seconds later, and the add-on at work in between.
    void normalStartRestoresAfterTwentySeconds_data()
    {
        QTest::addColumn<bool>("failsafeCopy");
        QTest::newRow("the library alone") << false;
        // An interrupted start left the failsafe copy; a reinstall then put
        // the library back under its own name, so Qt finds both files.
        QTest::newRow("a reinstall beside a failsafe copy starts once") << true;
    }

    void normalStartRestoresAfterTwentySeconds()
    {
        QFETCH(bool, failsafeCopy);
        if (failsafeCopy)
            QVERIFY(QFile::copy(ownName, failsafeName));
        QElapsedTimer clock;
        clock.start();
        Host host(QStringLiteral("wait 22000\nquit\n"));
        QTRY_VERIFY_WITH_TIMEOUT(startupMessages().contains(plugLoaded), 10000);
        QCOMPARE(fileState(), QStringLiteral("failsafe"));
        const qint64 loadedAt = clock.elapsed();

        QTRY_COMPARE_WITH_TIMEOUT(fileState(), QStringLiteral("own"), 25000);
        const qint64 armedFor = clock.elapsed() - loadedAt;
        QVERIFY2(armedFor > 19000, qPrintable(QString::number(armedFor)));

        QVERIFY(host.finish());
        QCOMPARE(host.process.exitStatus(), QProcess::NormalExit);
        QStringList messages = startupMessages();
        if (failsafeCopy)
            messages.removeAll(stayingOff);
        QCOMPARE(messages, QStringList{plugLoaded});
    }

    // Cases in which nothing starts: no icon in Nickel's status bar, one line
    // in the log, and the library left under the name it should have.
    void standsDownWithoutStarting_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("finalState");
        QTest::newRow("the switch file turns it off and restores at once")
            << "switch" << QStringLiteral("disabled by .adds/zorvi/disable-plugin") << "own";
        QTest::newRow("a read-only plugin folder keeps it from arming")
            << "read-only" << notArmed << "own";
        QTest::newRow("the switch file is not even read when arming fails")
            << "switch, read-only" << notArmed << "own";
        QTest::newRow("an uninstall request removes the library and itself")
            << "uninstall" << uninstalled << "none";
        QTest::newRow("an uninstall request removes a reinstall and its failsafe copy")
            << "failsafe copy, uninstall" << uninstalled << "none";
    }

    void standsDownWithoutStarting()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QFETCH(QString, finalState);
        QVERIFY(QDir().mkpath(QString::fromLatin1(zorvi::addonDir)));
        if (setup.contains("switch"))
            QVERIFY(QFile(QString::fromLatin1(zorvi::switchFile)).open(QIODevice::WriteOnly));
        if (setup.contains("uninstall"))
            QVERIFY(QFile(QString::fromLatin1(zorvi::uninstallFile)).open(QIODevice::WriteOnly));
        if (setup.contains("failsafe copy"))
            QVERIFY(QFile::copy(ownName, failsafeName));
        const bool readOnly = setup.contains("read-only");
        if (readOnly)
            QVERIFY(setReadOnly(pluginDir, true));

        Host host(QStringLiteral("wait 300\nfind zorviStatusIcon\nquit\n"));
        QVERIFY(host.finish());
        if (readOnly)
            QVERIFY(setReadOnly(pluginDir, false));

        QCOMPARE(host.process.exitCode(), 0);
        QVERIFY(host.process.readAllStandardOutput().contains("find zorviStatusIcon: not found"));
        QCOMPARE(startupMessages(), QStringList{message});
        QCOMPARE(fileState(), finalState);
        QVERIFY(!QFile::exists(QString::fromLatin1(zorvi::uninstallFile)));
    }

    void withoutApplicationObject_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("no application") << QStringList() << "no Qt application yet; not starting";
        QTest::newRow("loaded on another thread")
            << QStringList{"--thread"} << "loaded outside Nickel's main thread; not starting";
    }

    void withoutApplicationObject()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        QVERIFY(run(QStringLiteral(BARE_HOST), options << ownName));
        QCOMPARE(startupMessages(), QStringList{message});
        QCOMPARE(fileState(), QStringLiteral("own"));
    }

    void failedRestoreIsLoggedOnce()
    {
        Host host(QStringLiteral("wait 25000\nquit\n"));
        QTRY_VERIFY_WITH_TIMEOUT(startupMessages().contains(plugLoaded), 10000);
        QVERIFY(setReadOnly(pluginDir, true));

        QVERIFY(host.finish());
        QVERIFY(setReadOnly(pluginDir, false));
        QCOMPARE(startupMessages(),
                 (QStringList{plugLoaded, "failsafe: could not restore plugin"}));
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
        QCOMPARE(startupMessages(), (QStringList{plugLoaded, stayingOff}));
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
        // The daemon would accept, but Nickel comes first.
        QTest::newRow("through Nickel's reboot") << true << 202 << QStringLiteral("own");
        QTest::newRow("through the daemon") << false << 202 << QStringLiteral("own");
        // Only 202 says that the daemon restarts.
        QTest::newRow("the daemon refuses: still armed")
            << false << 200 << QStringLiteral("failsafe");
    }

    void restartAskedForKeepsItOn()
    {
        QFETCH(bool, nickelReboots);
        QFETCH(int, daemonAnswer);
        QFETCH(QString, stateAfter);
        FakeDaemon daemon(answer(200, "{}"));
        daemon.route("GET /update", answer(200, R"({"state":"ready","version":"2.1.0"})"));
        daemon.route("POST /update/restart", answer(daemonAnswer, "{}"));
        // Without Nickel's managers, a rescan asked for is skipped as well.
        if (!nickelReboots)
            QVERIFY(QFile(QString::fromLatin1(zorvi::rescanFlag)).open(QIODevice::WriteOnly));

        Host host(QStringLiteral("wait 1000\ntap zorviStatusIcon\ntap-text Restart and update\n"
                                 "wait 800\nquit\n"),
                  nickelReboots ? QStringList()
                                : QStringList{QStringLiteral("--no-power-manager"),
                                              QStringLiteral("--no-plug-manager")});
        QVERIFY(host.finish());
        QCOMPARE(host.process.exitCode(), nickelReboots ? 3 : 0);
        QCOMPARE(startupMessages(), (QStringList{plugLoaded, restarting}));
        if (!nickelReboots) {
            QVERIFY(logMessages().contains(
                QStringLiteral("library rescan skipped: no PlugWorkflowManager instance")));
            QVERIFY(!QFile::exists(QString::fromLatin1(zorvi::rescanFlag)));
        }
        QCOMPARE(logMessages().contains(QStringLiteral("restart unavailable")),
                 stateAfter == QLatin1String("failsafe"));
        QCOMPARE(fileState(), stateAfter);
        if (stateAfter != QLatin1String("own"))
            return;

        Host next(QStringLiteral("wait 300\nquit\n"));
        QVERIFY(next.finish());
        QCOMPARE(startupMessages(), (QStringList{plugLoaded, restarting, plugLoaded}));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
