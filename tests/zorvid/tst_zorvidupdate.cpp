// The update state machine as the add-on's update section reads it: every
// outcome of a check, the ready flag, refusals while busy, and the restart
// that installs the update.

#include "daemon/daemonclient.h"
#include "plugin/devicepaths.h"
#include "zorvidfixture.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QtTest>

using zorvi::DaemonClient;

namespace {

const QString readyFlag = QStringLiteral("/tmp/zorvi-update-ready");
const QString slot = QStringLiteral("/tmp/slot/KoboRoot.tgz");

QString field(const char *name)
{
    return DaemonClient().updateStatus().json.object().value(QLatin1String(name)).toString();
}

// Asks for a check and follows the states it goes through (the first from
// the reply to the request itself) until it settles, for at most 8 s.
QStringList checkAndFollow()
{
    const zorvi::DaemonReply accepted = DaemonClient().request("POST", "/update/check");
    if (accepted.status != 202)
        return QStringList{QStringLiteral("refused with %1").arg(accepted.status)};
    QStringList states{accepted.json.object().value(QLatin1String("state")).toString()};
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 8000 && (states.last() == QLatin1String("checking") ||
                                      states.last() == QLatin1String("downloading"))) {
        QTest::qWait(20);
        const QString state = field("state");
        if (states.last() != state)
            states << state;
    }
    return states;
}

} // namespace

class TestZorvidUpdate : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QDir().mkpath(QFileInfo(slot).path());
        QFile::remove(slot);
        QFile::remove(readyFlag);
    }

    void outcomesOfACheck_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("inSlot"); // what another installer left there
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("version"); // the one downloaded, if any

        QTest::newRow("nothing offered is up to date")
            << QStringList() << QByteArray() << "up_to_date" << QString();
        QTest::newRow("an older version offered is up to date")
            << QStringList{"--current", "2.1.0", "--update-available", "2.0.9"} << QByteArray()
            << "up_to_date" << QString();
        QTest::newRow("a source that cannot be reached fails")
            << QStringList{"--update-available", "2.1.0", "--update-fails"} << QByteArray()
            << "failed" << QString();
        QTest::newRow("another update waiting in the slot blocks")
            << QStringList{"--update-available", "2.1.0"} << QByteArray("firmware 4.38")
            << "blocked" << QString();
        QTest::newRow("a newer version downloads and becomes ready")
            << QStringList{"--update-available", "2.1.0"} << QByteArray() << "found"
            << "2.1.0";
        QTest::newRow("version 10.0 is newer than 9.9.0")
            << QStringList{"--current", "9.9.0", "--update-available", "10.0"} << QByteArray()
            << "found"
            << "10.0";
    }

    void outcomesOfACheck()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, inSlot);
        QFETCH(QString, last);
        QFETCH(QString, version);

        Zorvid daemon;
        QFile file(slot);
        if (!inSlot.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(inSlot) == inSlot.size());
        file.close();
        const QStringList quick{"--check-seconds", "0", "--download-seconds", "1",
                                "--install-slot",  slot};
        QVERIFY(daemon.start(arguments + quick));
        QCOMPARE(field("state"), QStringLiteral("idle"));
        QCOMPARE(field("last"), QStringLiteral("none"));
        const QString installed = field("current");

        const bool ready = !version.isEmpty();
        const QStringList states = ready ? QStringList{"checking", "downloading", "ready"}
                                         : QStringList{"checking", "idle"};
        QCOMPARE(checkAndFollow(), states);
        QCOMPARE(field("last"), last);
        QCOMPARE(field("version"), version);
        QCOMPARE(field("current"), installed);
        QCOMPARE(QFile::exists(readyFlag), ready);
        if (ready)
            inSlot = "zorvi-update " + version.toUtf8() + '\n';
        QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), inSlot);
    }

    // One update from check to installation: refused while busy, ready across a
    // restart of the daemon, then installed by the restart the add-on asks for.
    void refusalsThenRestartInstallsTheUpdate()
    {
        Zorvid daemon;
        const QStringList arguments{"--update-available", "2.1.0", "--check-seconds", "1",
                                    "--download-seconds", "1",     "--install-slot",  slot};
        QVERIFY(daemon.start(arguments));
        QVERIFY(!DaemonClient().restartForUpdate());
        QVERIFY(DaemonClient().checkForUpdate());
        QCOMPARE(field("state"), QStringLiteral("checking"));
        QVERIFY(!DaemonClient().checkForUpdate());
        QVERIFY(!DaemonClient().restartForUpdate());
        QTRY_COMPARE_WITH_TIMEOUT(field("state"), QStringLiteral("downloading"), 3000);
        QVERIFY(!DaemonClient().checkForUpdate());
        QTRY_COMPARE_WITH_TIMEOUT(field("state"), QStringLiteral("ready"), 3000);
        QVERIFY(QFile::exists(readyFlag));
        QVERIFY(!DaemonClient().checkForUpdate());

        // The reader's /tmp does not keep the flag across a restart; the daemon
        // finds the staged update and sets it again.
        QVERIFY(daemon.stop());
        QFile::remove(readyFlag);
        QVERIFY(daemon.start(arguments));
        QCOMPARE(field("state"), QStringLiteral("ready"));
        QVERIFY(QFile::exists(readyFlag));

        // The daemon goes down as the reader would, with status 3, the update
        // installed and nothing left waiting; started again, it runs 2.1.0.
        QVERIFY(DaemonClient().restartForUpdate());
        QVERIFY(daemon.waitForExit());
        QCOMPARE(daemon.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.process.exitCode(), 3);
        QVERIFY(!QFile::exists(readyFlag));
        QVERIFY(!QFile::exists(slot));
        QVERIFY(!QFile::exists(QString::fromLatin1(zorvi::daemonSocket)));
        QVERIFY(daemon.start(arguments));
        QCOMPARE(field("current"), QStringLiteral("2.1.0"));
        QCOMPARE(checkAndFollow(), (QStringList{"checking", "idle"}));
        QCOMPARE(field("last"), QStringLiteral("up_to_date"));
    }
};

QTEST_GUILESS_MAIN(TestZorvidUpdate)
#include "tst_zorvidupdate.moc"
