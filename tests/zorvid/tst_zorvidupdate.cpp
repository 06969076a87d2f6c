// The update state machine as the add-on's update section reads it: every
// outcome of a check, the ready flag, refusals while busy, and the restart
// that installs the update.

#include "daemon/daemonclient.h"
#include "readonlymount.h"
#include "zorvidprocess.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QtTest>

using zorvi::DaemonClient;

namespace {

const QString readyFlag = QStringLiteral("/tmp/zorvi-update-ready");

QJsonObject updateState()
{
    return DaemonClient().updateStatus().json.object();
}

QString field(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toString();
}

// Asks for a check and follows the states it goes through (each once, in
// order, the first from the reply to the request itself) until it settles,
// for at most 8 s.
QStringList checkAndFollow(QJsonObject *settled)
{
    const zorvi::DaemonReply accepted = DaemonClient().request("POST", "/update/check");
    if (accepted.status != 202)
        return QStringList{QStringLiteral("refused with %1").arg(accepted.status)};
    QStringList states{field(accepted.json.object(), "state")};
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 8000) {
        *settled = updateState();
        const QString state = field(*settled, "state");
        if (states.isEmpty() || states.last() != state)
            states << state;
        if (state != QLatin1String("checking") && state != QLatin1String("downloading"))
            break;
        QTest::qWait(20);
    }
    return states;
}

} // namespace

class TestZorvidUpdate : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void outcomesOfACheck_data();
    void outcomesOfACheck();
    void checksRefusedWhileBusyOrReady();
    void restartInstallsTheReadyUpdate();
    void restartWithoutAReadyUpdateIsRefused();
    void daemonRestartKeepsWhatIsStaged_data();
    void daemonRestartKeepsWhatIsStaged();

private:
    QString slotPath() const { return slotDir->filePath(QStringLiteral("KoboRoot.tgz")); }
    QStringList withSlot(QStringList arguments) const
    {
        return arguments << QStringLiteral("--install-slot") << slotPath();
    }

    ZorvidProcess daemon;
    QScopedPointer<QTemporaryDir> slotDir;
};

void TestZorvidUpdate::init()
{
    slotDir.reset(new QTemporaryDir(QDir::temp().filePath(QStringLiteral("slot-XXXXXX"))));
    QFile::remove(readyFlag);
}

void TestZorvidUpdate::cleanup()
{
    if (daemon.isRunning())
        QVERIFY2(daemon.stop(), qPrintable(daemon.log()));
    daemon.clearState();
}

void TestZorvidUpdate::outcomesOfACheck_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("inSlot"); // what another installer left there
    QTest::addColumn<bool>("slotWritable");
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("version");

    const QStringList quick{"--check-seconds", "0", "--download-seconds", "1"};
    const QStringList checkThenReady{"checking", "downloading", "ready"};
    const QStringList checkThenIdle{"checking", "idle"};

    QTest::newRow("nothing offered is up to date")
        << quick << QByteArray() << true << checkThenIdle << "up_to_date"
        << "";
    QTest::newRow("the installed version offered is up to date")
        << quick + QStringList{"--update-available", "2.0.0"} << QByteArray() << true
        << checkThenIdle << "up_to_date"
        << "";
    QTest::newRow("an older version offered is up to date")
        << quick + QStringList{"--current", "2.1.0", "--update-available", "2.0.9"} << QByteArray()
        << true << checkThenIdle << "up_to_date"
        << "";
    QTest::newRow("a source that cannot be reached fails")
        << quick + QStringList{"--update-available", "2.1.0", "--update-fails"} << QByteArray()
        << true << checkThenIdle << "failed"
        << "";
    QTest::newRow("another update waiting in the slot blocks")
        << quick + QStringList{"--update-available", "2.1.0"} << QByteArray("firmware 4.38") << true
        << checkThenIdle << "blocked"
        << "";
    QTest::newRow("a newer version downloads and becomes ready")
        << quick + QStringList{"--update-available", "2.1.0"} << QByteArray() << true
        << checkThenReady << "found"
        << "2.1.0";
    QTest::newRow("version 10.0 is newer than 9.9.0")
        << quick + QStringList{"--current", "9.9.0", "--update-available", "10.0"} << QByteArray()
        << true << checkThenReady << "found"
        << "10.0";
    QTest::newRow("a slot that cannot be written fails the download")
        << quick + QStringList{"--update-available", "2.1.0"} << QByteArray() << false
        << QStringList{"checking", "downloading", "idle"} << "failed"
        << "";
}

void TestZorvidUpdate::outcomesOfACheck()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, inSlot);
    QFETCH(bool, slotWritable);
    QFETCH(QStringList, states);
    QFETCH(QString, last);
    QFETCH(QString, version);

    if (!inSlot.isNull()) {
        QFile slot(slotPath());
        QVERIFY(slot.open(QIODevice::WriteOnly));
        slot.write(inSlot);
    }
    QScopedPointer<ReadOnlyMount> locked;
    if (!slotWritable) {
        locked.reset(new ReadOnlyMount(slotDir->path()));
        QVERIFY(locked->isMounted());
    }
    QVERIFY(daemon.start(withSlot(arguments)));

    const QJsonObject before = updateState();
    QCOMPARE(field(before, "state"), QStringLiteral("idle"));
    QCOMPARE(field(before, "last"), QStringLiteral("none"));
    const QString installed = field(before, "current");
    QVERIFY(!installed.isEmpty());

    QJsonObject settled;
    QCOMPARE(checkAndFollow(&settled), states);
    QCOMPARE(field(settled, "last"), last);
    QCOMPARE(field(settled, "version"), version);
    QCOMPARE(field(settled, "current"), installed);

    const bool ready = states.last() == QLatin1String("ready");
    QCOMPARE(QFile::exists(readyFlag), ready);
    QFile slot(slotPath());
    if (ready) {
        QVERIFY(slot.open(QIODevice::ReadOnly));
        QCOMPARE(slot.readAll(), "zorvi-update " + version.toUtf8() + '\n');
    } else if (!inSlot.isNull()) {
        QVERIFY(slot.open(QIODevice::ReadOnly));
        QCOMPARE(slot.readAll(), inSlot);
    } else {
        QVERIFY(!slot.exists());
    }
}

void TestZorvidUpdate::checksRefusedWhileBusyOrReady()
{
    QVERIFY(daemon.start(withSlot(
        {"--update-available", "2.1.0", "--check-seconds", "1", "--download-seconds", "1"})));
    QVERIFY(DaemonClient().checkForUpdate());
    QCOMPARE(field(updateState(), "state"), QStringLiteral("checking"));
    QVERIFY(!DaemonClient().checkForUpdate());

    QTRY_COMPARE_WITH_TIMEOUT(field(updateState(), "state"), QStringLiteral("downloading"), 3000);
    QCOMPARE(field(updateState(), "version"), QStringLiteral("2.1.0"));
    QVERIFY(!DaemonClient().checkForUpdate());

    QTRY_COMPARE_WITH_TIMEOUT(field(updateState(), "state"), QStringLiteral("ready"), 3000);
    QVERIFY(!DaemonClient().checkForUpdate());
    QCOMPARE(field(updateState(), "state"), QStringLiteral("ready"));
    QTRY_VERIFY_WITH_TIMEOUT(
        daemon.log().contains(QStringLiteral("409 an update is ready to install")), 2000);
}

void TestZorvidUpdate::restartInstallsTheReadyUpdate()
{
    const QStringList arguments = withSlot(
        {"--update-available", "2.1.0", "--check-seconds", "0", "--download-seconds", "0"});
    QVERIFY(daemon.start(arguments));
    QJsonObject settled;
    QCOMPARE(checkAndFollow(&settled).last(), QStringLiteral("ready"));
    QVERIFY(QFile::exists(readyFlag));

    QVERIFY(DaemonClient().restartForUpdate());
    // The daemon goes down as the reader would, with status 3, the update
    // installed and nothing left waiting.
    QVERIFY(daemon.waitForExit());
    QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(daemon.exitCode(), 3);
    QVERIFY(!QFile::exists(readyFlag));
    QVERIFY(!QFile::exists(slotPath()));
    QVERIFY(!QFile::exists(QStringLiteral("/tmp/zorvid.sock")));

    QVERIFY(daemon.start(arguments));
    const QJsonObject after = updateState();
    QCOMPARE(field(after, "state"), QStringLiteral("idle"));
    QCOMPARE(field(after, "current"), QStringLiteral("2.1.0"));
    QCOMPARE(checkAndFollow(&settled), (QStringList{"checking", "idle"}));
    QCOMPARE(field(settled, "last"), QStringLiteral("up_to_date"));
}

void TestZorvidUpdate::restartWithoutAReadyUpdateIsRefused()
{
    QVERIFY(daemon.start(withSlot({"--update-available", "2.1.0", "--check-seconds", "1"})));
    QVERIFY(!DaemonClient().restartForUpdate());
    QVERIFY(DaemonClient().checkForUpdate());
    QVERIFY(!DaemonClient().restartForUpdate());
    QVERIFY(daemon.isRunning());
    QCOMPARE(field(updateState(), "current"), QStringLiteral("2.0.0"));
}

void TestZorvidUpdate::daemonRestartKeepsWhatIsStaged_data()
{
    QTest::addColumn<bool>("killedWhileDownloading");
    QTest::addColumn<QString>("stateAfter");
    QTest::newRow("a ready update is ready again, flag and all") << false << "ready";
    QTest::newRow("a download cut short leaves nothing staged") << true << "idle";
}

void TestZorvidUpdate::daemonRestartKeepsWhatIsStaged()
{
    QFETCH(bool, killedWhileDownloading);
    QFETCH(QString, stateAfter);

    const QStringList arguments = withSlot(
        {"--update-available", "2.1.0", "--check-seconds", "0", "--download-seconds", "1"});
    QVERIFY(daemon.start(arguments));
    QVERIFY(DaemonClient().checkForUpdate());
    if (killedWhileDownloading) {
        QTRY_COMPARE_WITH_TIMEOUT(field(updateState(), "state"), QStringLiteral("downloading"),
                                  2000);
        daemon.kill();
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(field(updateState(), "state"), QStringLiteral("ready"), 3000);
        QVERIFY(daemon.stop());
        // The reader's /tmp does not keep the flag across a restart.
        QFile::remove(readyFlag);
    }

    QVERIFY(daemon.start(arguments));
    const QJsonObject after = updateState();
    QCOMPARE(field(after, "state"), stateAfter);
    QCOMPARE(QFile::exists(readyFlag), stateAfter == QLatin1String("ready"));
    QCOMPARE(QFile::exists(slotPath()), stateAfter == QLatin1String("ready"));
    if (stateAfter == QLatin1String("ready"))
        QCOMPARE(field(after, "version"), QStringLiteral("2.1.0"));
}

QTEST_GUILESS_MAIN(TestZorvidUpdate)
#include "tst_zorvidupdate.moc"
