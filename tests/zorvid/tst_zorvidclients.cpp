// The paired devices: listed and disconnected through the add-on's client,
// ids of any character, the file that keeps them across restarts, and
// that no crash, however timed, leaves that file broken or out of date.

#include "daemon/daemonclient.h"
#include "plugin/devicepaths.h"
#include "zorvidfixture.h"

#include <QElapsedTimer>
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

QStringList idsOf(const QJsonArray &clients)
{
    QStringList ids;
    for (const QJsonValue &client : clients)
        ids << client.toObject().value(QLatin1String("id")).toString();
    return ids;
}

QStringList listedIds()
{
    return idsOf(DaemonClient().listClients().json.array());
}

// The ids in the client list file; none when it is not a client list.
QStringList idsOnDisk(const QString &path)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    return opened ? idsOf(QJsonDocument::fromJson(file.readAll())["clients"].toArray())
                  : QStringList();
}

// Replaces the client list with devices of these ids.
bool writeClients(const QString &path, const QStringList &ids)
{
    QJsonArray clients;
    for (const QString &id : ids)
        clients.append(QJsonObject{{"id", id}, {"name", "Device"}, {"paired_at", 1700000000}});
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(QJsonDocument(QJsonObject{{"clients", clients}}).toJson()) > 0;
}

QString pairOneDevice(const QString &name)
{
    const QJsonObject offer = DaemonClient().startPairing().json.object();
    const PhoneRun run = runPhone(offer.value(QLatin1String("url")).toString(), QString(), name);
    return run.exitCode != 0
               ? QString()
               : DaemonClient().pairingStatus().json.object().value(QLatin1String("id")).toString();
}

} // namespace

class TestZorvidClients : public QObject {
    Q_OBJECT

private slots:
    void idsRoundTripThroughDisconnect_data();
    void idsRoundTripThroughDisconnect();
    void listSurvivesARestart();
    void unreadableListIsKeptAside();
    void killedDuringWritesNeverLosesTheList();
};

void TestZorvidClients::idsRoundTripThroughDisconnect_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("an id with a space, a quote and a slash") << "Anna's phone/1f2e";
    QTest::newRow("an id that is already percent-encoded") << "a%2Fb%20c";
    QTest::newRow("an id in non-ASCII characters") << "Téléphone de Zoë 📱";
    QTest::newRow("an id that looks like a way out of /clients") << "../update/restart";
    QTest::newRow("an id with a query and a fragment") << "?x=1#top";
}

void TestZorvidClients::idsRoundTripThroughDisconnect()
{
    QFETCH(QString, id);

    Zorvid daemon;
    QVERIFY(writeClients(daemon.clientsFile(), {"bystander", id, "a"}));
    QVERIFY(daemon.start());
    QCOMPARE(listedIds(), (QStringList{"bystander", id, "a"}));

    QVERIFY(DaemonClient().disconnectClient(id));
    QCOMPARE(listedIds(), (QStringList{"bystander", "a"}));
    QCOMPARE(idsOnDisk(daemon.clientsFile()), (QStringList{"bystander", "a"}));
    // Gone now: a second disconnection is answered 404.
    QVERIFY(!DaemonClient().disconnectClient(id));
    QTRY_VERIFY_WITH_TIMEOUT(daemon.log().contains(QStringLiteral("404 no such client")), 2000);
}

void TestZorvidClients::listSurvivesARestart()
{
    Zorvid daemon;
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

void TestZorvidClients::unreadableListIsKeptAside()
{
    Zorvid daemon;
    const QByteArray content("{\"clients\": [{\"id\": ");
    QFile file(daemon.clientsFile());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    QVERIFY(daemon.start());
    QVERIFY(listedIds().isEmpty());
    const QString id = pairOneDevice(QStringLiteral("After"));
    QVERIFY(!id.isEmpty());
    QCOMPARE(idsOnDisk(daemon.clientsFile()), QStringList{id});

    // The old file is kept beside the new list, not overwritten.
    const QStringList aside =
        QDir(daemon.state.path()).entryList({QStringLiteral("clients.json.unreadable-*")});
    QCOMPARE(aside.size(), 1);
    QFile kept(daemon.state.filePath(aside.first()));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
}

// Bursts of disconnections and pairings, each cut short by SIGKILL at a
// random moment. Until then the file is read again and again: at no moment,
// and so after no kill, may it be anything but a whole list. After each kill
// it must hold every pairing the daemon confirmed and none of the devices
// whose disconnection it confirmed; the request in flight may have gone
// either way. Each restart also finds the socket file the killed daemon left.
// The work never runs out, however fast the machine: devices paired in the
// test are disconnected in turn once the seeded ones are gone.
void TestZorvidClients::killedDuringWritesNeverLosesTheList()
{
    Zorvid daemon;
    QStringList live; // on the list as far as the daemon confirmed, oldest first
    for (int i = 0; i < 300; ++i)
        live << QStringLiteral("seed %1/x").arg(i);
    QVERIFY(writeClients(daemon.clientsFile(), live));
    QSet<QString> mustHave(live.cbegin(), live.cend());
    QSet<QString> mustLack;
    int step = 0;

    for (int round = 0; round < 8; ++round) {
        QVERIFY(daemon.start());
        const pid_t pid = pid_t(daemon.process.processId());
        const int delayMs = QRandomGenerator::global()->bounded(40, 250);
        std::atomic<bool> killed{false};
        std::atomic<int> broken{0};
        std::atomic<int> confirmedInRound{0};
        // The kill comes a random time after the daemon has confirmed two
        // writes, so that writes are under way however fast it runs (under
        // an emulator it starts slowly).
        std::thread killer([&, pid, delayMs, file = daemon.clientsFile()] {
            QElapsedTimer clock;
            clock.start();
            while (confirmedInRound < 2 && clock.elapsed() < 20000)
                broken += idsOnDisk(file).isEmpty();
            clock.restart();
            while (clock.elapsed() < delayMs)
                broken += idsOnDisk(file).isEmpty();
            ::kill(pid, SIGKILL);
            killed = true;
        });
        while (!killed) {
            // Three disconnections to one pairing while devices are left.
            if (!live.isEmpty() && ++step % 4 != 0) {
                // Unknown until the daemon confirms it.
                const QString id = live.takeFirst();
                mustHave.remove(id);
                if (DaemonClient().disconnectClient(id)) {
                    mustLack.insert(id);
                    ++confirmedInRound;
                }
                continue;
            }
            const QString id = pairOneDevice(QStringLiteral("Burst %1").arg(step));
            if (!id.isEmpty()) {
                live << id;
                mustHave.insert(id);
                ++confirmedInRound;
            }
        }
        killer.join();
        // Writes were really under way when the kill came.
        QVERIFY2(confirmedInRound >= 2, qPrintable(QString::number(confirmedInRound)));
        QVERIFY(daemon.waitForExit());
        QCOMPARE(daemon.process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(broken.load(), 0);
        QVERIFY(QFile::exists(QString::fromLatin1(zorvi::daemonSocket)));

        // A broken or empty file lacks the devices that were never touched.
        const QStringList ids = idsOnDisk(daemon.clientsFile());
        const QSet<QString> onDisk(ids.cbegin(), ids.cend());
        QCOMPARE(onDisk.size(), ids.size());
        QCOMPARE(onDisk & mustHave, mustHave);
        QCOMPARE(onDisk & mustLack, QSet<QString>());
    }
}

QTEST_GUILESS_MAIN(TestZorvidClients)
#include "tst_zorvidclients.moc"
