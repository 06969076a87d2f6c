// The paired devices: listed and disconnected through the add-on's client,
// ids of any character, the file that keeps them across restarts, and
// that no crash, however timed, leaves that file broken or out of date.

#include "daemon/daemonclient.h"
#include "phonecommand.h"
#include "readonlymount.h"
#include "zorvidprocess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <thread>

using zorvi::DaemonClient;

namespace {

QStringList listedIds()
{
    QStringList ids;
    for (const QJsonValue &client : DaemonClient().listClients().json.array())
        ids << client.toObject().value(QLatin1String("id")).toString();
    return ids;
}

// The ids in the client list file; a null list when it is not one.
QStringList idsOnDisk(const QString &file, QString *problem)
{
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("no file");
        return QStringList();
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(input.readAll(), &error);
    if (!document.object().value(QLatin1String("clients")).isArray()) {
        *problem = QStringLiteral("not a client list: %1").arg(error.errorString());
        return QStringList();
    }
    QStringList ids{};
    for (const QJsonValue &client : document.object().value(QLatin1String("clients")).toArray())
        ids << client.toObject().value(QLatin1String("id")).toString();
    return ids;
}

QString pairOneDevice(const QString &name)
{
    const QJsonObject offer = DaemonClient().startPairing().json.object();
    const PhoneRun run = runPhone(offer.value(QLatin1String("url")).toString(),
                                  offer.value(QLatin1String("code")).toString(), name);
    return run.exitCode == 0
               ? DaemonClient().pairingStatus().json.object().value(QLatin1String("id")).toString()
               : QString();
}

} // namespace

class TestZorvidClients : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void listAsTheAddOnReadsIt();
    void idsRoundTripThroughDisconnect_data();
    void idsRoundTripThroughDisconnect();
    void listSurvivesARestart();
    void unreadableListIsKeptAside_data();
    void unreadableListIsKeptAside();
    void changesThatCannotBeSavedAreNotMade();
    void killedDuringWritesNeverLosesTheList();

private:
    ZorvidProcess daemon;
};

void TestZorvidClients::cleanup()
{
    if (daemon.isRunning())
        QVERIFY2(daemon.stop(), qPrintable(daemon.log()));
    daemon.clearState();
}

void TestZorvidClients::listAsTheAddOnReadsIt()
{
    QVERIFY(daemon.writeClients({{"k-1", "Kitchen tablet"}, {"p/2", "Phone"}, {"l 3", "Laptop"}}));
    QVERIFY(daemon.start());
    const zorvi::DaemonReply reply = DaemonClient().listClients();
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.json.isArray());
    const QJsonArray clients = reply.json.array();
    QCOMPARE(clients.size(), 3);
    const QStringList names{"Kitchen tablet", "Phone", "Laptop"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject client = clients.at(i).toObject();
        QCOMPARE(client.value(QLatin1String("name")).toString(), names.at(i));
        QVERIFY(client.value(QLatin1String("paired_at")).isDouble());
        QCOMPARE(qint64(client.value(QLatin1String("paired_at")).toDouble()),
                 1700000000 + i * 86400);
    }
    QVERIFY(!DaemonClient().disconnectClient(QStringLiteral("no such id")));
    QCOMPARE(listedIds(), (QStringList{"k-1", "p/2", "l 3"}));
}

void TestZorvidClients::idsRoundTripThroughDisconnect_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("an id of letters, digits, hyphens and dots") << "Kobo-Phone.2b";
    QTest::newRow("an id with a space and a slash") << "Anna's phone/1f2e";
    QTest::newRow("an id with a percent sign") << "100% sure";
    QTest::newRow("an id that is already percent-encoded") << "a%2Fb%20c";
    QTest::newRow("an id in non-ASCII characters") << "Téléphone de Zoë 📱";
    QTest::newRow("an id that looks like a way out of /clients") << "../update/restart";
    QTest::newRow("an id with a query and a fragment") << "?x=1#top";
    QTest::newRow("an id of one slash") << "/";
}

void TestZorvidClients::idsRoundTripThroughDisconnect()
{
    QFETCH(QString, id);

    QVERIFY(daemon.writeClients({{"bystander", "Bystander"}, {id, "Device"}, {"a", "A"}}));
    QVERIFY(daemon.start());
    QCOMPARE(listedIds(), (QStringList{"bystander", id, "a"}));

    QVERIFY(DaemonClient().disconnectClient(id));
    QCOMPARE(listedIds(), (QStringList{"bystander", "a"}));
    QString problem;
    QCOMPARE(idsOnDisk(daemon.clientsFile(), &problem), (QStringList{"bystander", "a"}));
    // Gone now, so a second disconnection is answered 404.
    QVERIFY(!DaemonClient().disconnectClient(id));
    QTRY_VERIFY2_WITH_TIMEOUT(daemon.log().contains(QStringLiteral("404 no such client")),
                              qPrintable(daemon.log()), 2000);
}

void TestZorvidClients::listSurvivesARestart()
{
    QVERIFY(daemon.start());
    const QString first = pairOneDevice(QStringLiteral("First phone"));
    const QString second = pairOneDevice(QStringLiteral("Second phone"));
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    QVERIFY(daemon.stop());

    QVERIFY(daemon.start());
    QCOMPARE(listedIds(), (QStringList{first, second}));
    QVERIFY(DaemonClient().disconnectClient(first));
    QVERIFY(daemon.stop());

    QVERIFY(daemon.start());
    QCOMPARE(listedIds(), QStringList{second});
}

void TestZorvidClients::unreadableListIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("a file that is not JSON") << QByteArray("{\"clients\": [{\"id\": ");
    QTest::newRow("a JSON array instead of a client list") << QByteArray("[1, 2]");
    QTest::newRow("an empty file") << QByteArray();
}

void TestZorvidClients::unreadableListIsKeptAside()
{
    QFETCH(QByteArray, content);

    QFile file(daemon.clientsFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QVERIFY(daemon.start());
    QVERIFY(listedIds().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(daemon.log().contains(QStringLiteral("is not a client list")), 2000);

    const QStringList aside =
        QDir(daemon.stateDir()).entryList({QStringLiteral("clients.json.unreadable-*")});
    QCOMPARE(aside.size(), 1);
    QFile kept(QDir(daemon.stateDir()).filePath(aside.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);

    // The daemon goes on with a new list beside the old file.
    const QString id = pairOneDevice(QStringLiteral("After"));
    QVERIFY(!id.isEmpty());
    QString problem;
    QCOMPARE(idsOnDisk(daemon.clientsFile(), &problem), QStringList{id});
}

void TestZorvidClients::changesThatCannotBeSavedAreNotMade()
{
    QVERIFY(daemon.writeClients({{"keep", "Keep"}}));
    QVERIFY(daemon.start());
    const ReadOnlyMount locked(daemon.stateDir());
    QVERIFY(locked.isMounted());

    QVERIFY(!DaemonClient().disconnectClient(QStringLiteral("keep")));
    QCOMPARE(listedIds(), QStringList{"keep"});

    const QJsonObject offer = DaemonClient().startPairing().json.object();
    const PhoneRun run =
        runPhone(offer.value(QLatin1String("url")).toString(),
                 offer.value(QLatin1String("code")).toString(), QStringLiteral("New"));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.startsWith(QStringLiteral("refused with status 500")),
             qPrintable(run.output));
    QCOMPARE(listedIds(), QStringList{"keep"});
    // The offer still waits, so the device can try again once the disk is
    // writable.
    QCOMPARE(DaemonClient().pairingStatus().json.object().value(QLatin1String("state")).toString(),
             QStringLiteral("waiting"));
    QTRY_VERIFY_WITH_TIMEOUT(daemon.log().contains(QStringLiteral("cannot save")), 2000);
}

// Bursts of pairings and disconnections, each cut short by SIGKILL at a
// random moment. After every kill the file must be a whole client list that
// holds every pairing the daemon confirmed and none of the devices whose
// disconnection it confirmed; the request in flight may have gone either way.
void TestZorvidClients::killedDuringWritesNeverLosesTheList()
{
    QList<QPair<QString, QString>> seeded;
    for (int i = 0; i < 300; ++i)
        seeded.append(
            qMakePair(QStringLiteral("seed %1/x").arg(i), QStringLiteral("Seed %1").arg(i)));
    QVERIFY(daemon.writeClients(seeded));

    QSet<QString> mustHave;
    for (const auto &client : seeded)
        mustHave.insert(client.first);
    QSet<QString> mustLack;
    int nextSeed = 0;
    int confirmed = 0;
    QElapsedTimer clock;
    clock.start();

    for (int round = 0; round < 8 && clock.elapsed() < 20000; ++round) {
        QVERIFY(daemon.start());
        const qint64 pid = daemon.processId();
        const int delayMs = QRandomGenerator::global()->bounded(40, 250);
        std::atomic<bool> killed{false};
        std::thread killer([pid, delayMs, &killed] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            ::kill(pid_t(pid), SIGKILL);
            killed = true;
        });

        while (!killed && nextSeed < seeded.size()) {
            // Unknown until the daemon confirms it.
            const QString seed = seeded.at(nextSeed++).first;
            mustHave.remove(seed);
            if (DaemonClient().disconnectClient(seed)) {
                mustLack.insert(seed);
                ++confirmed;
            }
            const QString id = pairOneDevice(QStringLiteral("Burst %1").arg(nextSeed));
            if (!id.isEmpty()) {
                mustHave.insert(id);
                ++confirmed;
            }
        }
        killer.join();
        daemon.waitForExit();
        QCOMPARE(daemon.exitStatus(), QProcess::CrashExit);

        QString problem;
        const QStringList ids = idsOnDisk(daemon.clientsFile(), &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        const QSet<QString> onDisk(ids.cbegin(), ids.cend());
        QCOMPARE(onDisk.size(), ids.size());
        for (const QString &id : qAsConst(mustHave))
            QVERIFY2(onDisk.contains(id),
                     qPrintable(QStringLiteral("round %1 lost %2").arg(round).arg(id)));
        for (const QString &id : qAsConst(mustLack))
            QVERIFY2(!onDisk.contains(id),
                     qPrintable(QStringLiteral("round %1 kept %2").arg(round).arg(id)));
    }
    // Writes were really under way when the kills came.
    QVERIFY2(confirmed > 16, qPrintable(QString::number(confirmed)));
}

QTEST_GUILESS_MAIN(TestZorvidClients)
#include "tst_zorvidclients.moc"
