// zorvid's updater against a real HTTPS feed (tools/feed/feedserver.py)
// with the keys and authority this build trusts: what it installs, what it
// refuses and leaves no trace of, and a download that goes on where it
// stopped.

#include "scopeexit.h"
#include "zorvidprocess.h"

#include <QtTest>

#include <sys/mount.h>

namespace {

const QString feedTools = QStringLiteral(FEED_TOOLS);
const QString credentials = QStringLiteral(FEED_CREDENTIALS);
const QString readyFlag = QStringLiteral("/tmp/zorvi-update-ready");
const QString builtVersion = QStringLiteral(ZORVI_VERSION);
const int archiveBytes = 2 * 1000 * 1000;

// A version after the built one: "2.0.0" gives "2.0.1".
QString nextVersion(int step = 1)
{
    QStringList parts = builtVersion.split('.');
    parts.last() = QString::number(parts.last().toInt() + step);
    return parts.join('.');
}

QString olderVersion()
{
    return QStringLiteral("0.9");
}

// The feed: a folder with an archive and its manifest, served over HTTPS
// by the test server with the certificate and misbehaviour asked for.
class Feed {
public:
    ~Feed() { stop(); }

    bool start(const QString &certificate = QStringLiteral("feed"),
               const QStringList &behaviour = {})
    {
        server.setReadChannel(QProcess::StandardOutput);
        server.start("python3", QStringList{feedTools + "/feedserver.py", "--cert",
                                            credentials + "/" + certificate + ".pem", "--key",
                                            credentials + "/" + certificate + ".key", "--root",
                                            folder.path()} +
                                    behaviour);
        if (!server.waitForReadyRead(10000))
            return false;
        port = server.readLine().trimmed().toInt();
        return port > 0;
    }
    void stop()
    {
        if (server.state() == QProcess::NotRunning)
            return;
        server.terminate();
        server.waitForFinished(5000);
    }
    QString url(const QString &path) const
    {
        return QStringLiteral("https://localhost:%1/%2").arg(port).arg(path);
    }
    // A new archive of random bytes, and its manifest signed with KEY, with
    // manifest.py's OPTIONS.
    bool publish(const QString &version, const QStringList &options = {},
                 const QString &key = QStringLiteral("signing"))
    {
        QFile random(QStringLiteral("/dev/urandom"));
        if (!random.open(QIODevice::ReadOnly) ||
            !writeFile(archivePath(), random.read(archiveBytes)))
            return false;
        archive = readFile(archivePath());
        return sign(version, options, key);
    }
    bool sign(const QString &version, const QStringList &options = {},
              const QString &key = QStringLiteral("signing"))
    {
        QProcess writer;
        writer.start("python3",
                     QStringList{feedTools + "/manifest.py", "--key",
                                 credentials + "/" + key + ".key", "--version", version,
                                 "--archive", archivePath(), "--url", url("KoboRoot.tgz")} +
                         options);
        if (!writer.waitForFinished(10000) || writer.exitCode() != 0)
            return false;
        return writeFile(QDir(folder.path()).filePath("manifest.json"), writer.readAll());
    }
    QString archivePath() const { return QDir(folder.path()).filePath("KoboRoot.tgz"); }
    // The requests it answered, "GET /path range=...".
    QStringList requests()
    {
        log += server.readAllStandardError();
        QStringList lines = QString::fromUtf8(log).split('\n');
        lines.removeAll(QString());
        return lines;
    }

    QProcess server;
    QTemporaryDir folder{QDir::temp().filePath("feed-XXXXXX")};
    QByteArray archive;
    int port = 0;

private:
    QByteArray log;
};

// The reader's storage as zorvid uses it for updates: the install slot in
// .kobo and the state folder, on the storage of the isolated /mnt/onboard
// or on a small one of the test's own.
struct Storage {
    QString root = QString::fromLatin1(zorvi::storageMount);
    QString slot() const { return root + "/.kobo/KoboRoot.tgz"; }
    QString stateDir() const { return root + "/.adds/zorvi/zorvid"; }
    QString partial() const { return stateDir() + "/update.download"; }
    QStringList arguments() const
    {
        return {"--storage", root, "--state-dir", stateDir(), "--install-slot", slot()};
    }
    // Every file of the storage but the state file.
    QStringList files() const
    {
        QStringList found;
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.endsWith("/update.json"))
                found << path.mid(root.size());
        }
        found.sort();
        return found;
    }
};

QString field(const char *name)
{
    return DaemonClient().updateStatus().json.object().value(QLatin1String(name)).toString();
}

// Asks for a check and waits until it settles (at most 20 s); the state then.
QString checkAndWait()
{
    if (!DaemonClient().checkForUpdate())
        return QStringLiteral("refused");
    QElapsedTimer clock;
    clock.start();
    QString state;
    do {
        QTest::qWait(50);
        state = field("state");
    } while ((state == "checking" || state == "downloading") && clock.elapsed() < 20000);
    return state;
}

} // namespace

class TestUpdates : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (credentials.isEmpty())
            QSKIP("this build trusts a real feed's keys, not the test feed's");
    }

    void init()
    {
        const Storage storage;
        QDir(storage.root + "/.kobo").removeRecursively();
        QDir(storage.root + "/.adds").removeRecursively();
        QVERIFY(QDir().mkpath(storage.root + "/.kobo"));
        QVERIFY(QDir().mkpath(storage.stateDir()));
        QFile::remove(readyFlag);
    }

    // Every outcome of a check. Whatever is refused ends "failed" with one log
    // line that names the reason and leaves nothing on the storage; only a
    // newer release that is exactly what its signed manifest says is staged.
    void outcomesOfACheck_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QStringList>("manifest"); // manifest.py's options
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QStringList>("server"); // feedserver.py's options
        QTest::addColumn<QStringList>("zorvid"); // zorvid's options
        QTest::addColumn<QByteArray>("inSlot");  // what another installer left there
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("logged");

        // A refused release after the built one, signed with the feed's key
        // and served with its certificate, unless the row says otherwise.
        const auto row = [](const char *name, const QString &logged,
                            const QStringList &manifest = {}, const QStringList &server = {},
                            const QStringList &zorvid = {}, const QString &last = "failed",
                            const QString &version = nextVersion(), const QString &key = "signing",
                            const QString &certificate = "feed", const QByteArray &inSlot = {}) {
            QTest::newRow(name) << version << manifest << key << certificate << server << zorvid
                                << inSlot << last << logged;
        };
        const QString newer = nextVersion(), ready = "update " + newer + " is ready to install";

        row("a newer release is downloaded and staged", ready, {}, {}, {}, "found");
        row("the running release is up to date", "update check: " + builtVersion + " is up to date",
            {}, {}, {}, "up_to_date", builtVersion);
        row("an older release is a replayed manifest", "a replayed manifest", {}, {}, {}, "failed",
            olderVersion());
        row("a release for newer installations only", "updates only from " + newer,
            {"--min-version", newer});
        row("another archive waits in the slot", "already holds another update", {}, {}, {},
            "blocked", newer, "signing", "feed", "firmware 4.38");
        row("no feed built in", "no update feed is built into this zorvid", {}, {},
            {"--update-feed", "none"});

        row("an unsigned manifest", "the manifest is not signed", {"--unsigned"});
        row("a manifest signed by another key", "signature is not the feed's", {}, {}, {}, "failed",
            newer, "stranger-signing");
        row("a manifest changed after signing", "signature is not the feed's",
            {"--tamper", nextVersion(5)});
        row("a signed payload that is not a manifest", "not an update manifest",
            {"--type", "something-else"});
        row("an archive larger than the manifest says", "larger",
            {"--size", QString::number(archiveBytes - 1)});
        row("an archive shorter than the manifest says",
            QString("has %1 bytes, the manifest says").arg(archiveBytes),
            {"--size", QString::number(archiveBytes + 1)});
        row("an archive with another hash", "does not have the manifest's SHA-256",
            {"--sha256", QString(64, 'a')});
        row("an archive far larger than any real one", "not that of a real archive",
            {"--size", "300000000"});

        row("a certificate of another authority", "certificate of localhost is not the feed's", {},
            {}, {}, "failed", newer, "signing", "stranger");
        row("a certificate for another name", "certificate of localhost is not the feed's", {}, {},
            {}, "failed", newer, "signing", "elsewhere");
        row("a server that never answers", "did not answer for 1 s", {},
            {"--stall", "/manifest.json"}, {"--update-wait", "1"});
        row("a server that never finishes", "took longer than allowed", {},
            {"--trickle", "/manifest.json"}, {"--update-limit", "2"});
        row("an archive that never finishes", "took longer than allowed", {},
            {"--trickle", "/KoboRoot.tgz"}, {"--update-limit", "2"});
        row("a server that sends garbage", "reply is not HTTP", {},
            {"--garbage", "/manifest.json"});
        row("a redirect to plain HTTP", "redirected elsewhere, to http://localhost/manifest.json",
            {}, {"--redirect", "/manifest.json=http://localhost/manifest.json"});
        row("a redirect to another host", "redirected elsewhere, to https://elsewhere.test/", {},
            {"--redirect", "/KoboRoot.tgz=https://elsewhere.test/KoboRoot.tgz"});
        row("bytes beyond the declared length", ready, {}, {"--junk-after", "/manifest.json"}, {},
            "found");
        row("a resumed range that starts elsewhere", "range does not go on from byte 700000", {},
            {"--cut", "/KoboRoot.tgz=700000", "--range-from", "/KoboRoot.tgz=5"});
        row("a manifest far larger than any real one", "than the 65536 expected",
            {"--pad", "70000"});
    }

    void outcomesOfACheck()
    {
        QFETCH(QString, version);
        QFETCH(QStringList, manifest);
        QFETCH(QString, key);
        QFETCH(QString, certificate);
        QFETCH(QStringList, server);
        QFETCH(QStringList, zorvid);
        QFETCH(QByteArray, inSlot);
        QFETCH(QString, last);
        QFETCH(QString, logged);

        Feed feed;
        QVERIFY(feed.start(certificate, server));
        QVERIFY(feed.publish(version, manifest, key));
        const Storage storage;
        if (!inSlot.isEmpty())
            QVERIFY(writeFile(storage.slot(), inSlot));
        const QStringList before = storage.files();
        Zorvid daemon;
        QVERIFY(daemon.start(storage.arguments() +
                             QStringList{"--update-feed", feed.url("manifest.json")} + zorvid));

        const bool ready = last == "found";
        QCOMPARE(checkAndWait(), ready ? QStringLiteral("ready") : QStringLiteral("idle"));
        QCOMPARE(field("last"), last);
        QCOMPARE(field("current"), builtVersion);
        QTRY_COMPARE_WITH_TIMEOUT(daemon.log().count(logged), 1, 2000);
        QCOMPARE(QFile::exists(readyFlag), ready);
        if (ready) {
            QCOMPARE(field("version"), version);
            QCOMPARE(readFile(storage.slot()), feed.archive);
            QCOMPARE(storage.files(), QStringList{"/.kobo/KoboRoot.tgz"});
        } else {
            QCOMPARE(storage.files(), before);
            QCOMPARE(readFile(storage.slot()), inSlot);
        }
    }

    // A storage without room for the archive and the margin Nickel needs is
    // not filled.
    void noRoomNoDownload()
    {
        Feed feed;
        QVERIFY(feed.start());
        QVERIFY(feed.publish(nextVersion()));
        QTemporaryDir small(QDir::temp().filePath("small-XXXXXX"));
        QCOMPARE(::mount("zorvi-small", QFile::encodeName(small.path()).constData(), "tmpfs", 0,
                         "size=6m"),
                 0);
        const auto unmount = onScopeExit(
            [&] { ::umount2(QFile::encodeName(small.path()).constData(), MNT_DETACH); });
        Storage storage;
        storage.root = small.path();
        QVERIFY(QDir().mkpath(storage.stateDir()));
        QVERIFY(QDir().mkpath(storage.root + "/.kobo"));
        Zorvid daemon;
        QVERIFY(daemon.start(storage.arguments() +
                             QStringList{"--update-feed", feed.url("manifest.json")}));
        QCOMPARE(checkAndWait(), QStringLiteral("idle"));
        QCOMPARE(field("last"), QStringLiteral("failed"));
        QTRY_COMPARE_WITH_TIMEOUT(daemon.log().count("the reader's storage has"), 1, 2000);
        QCOMPARE(storage.files(), QStringList());
    }

    // A download cut short goes on from the byte where it stopped: at once
    // when the connection dropped, or at the next check after zorvid was
    // stopped (Wi-Fi off). A server that ignores the range, or a new release
    // in between, starts it again; the result is the archive either way.
    void downloadGoesOnWhereItStopped_data()
    {
        QTest::addColumn<QStringList>("server");
        QTest::addColumn<bool>("restart");
        QTest::addColumn<bool>("newRelease");
        QTest::addColumn<QString>("lastRange");

        const QStringList cut{"--cut", "/KoboRoot.tgz=700000"};
        const QString from = QStringLiteral("bytes=700000-");
        QTest::newRow("the connection dropped") << cut << false << false << from;
        QTest::newRow("the feed went silent")
            << QStringList{"--hang", "/KoboRoot.tgz=700000"} << false << false << from;
        QTest::newRow("zorvid stopped in between") << cut << true << false << from;
        QTest::newRow("a server without ranges")
            << (QStringList(cut) << "--no-ranges") << false << false << from;
        QTest::newRow("a new release in between") << cut << true << true << QString();
    }

    void downloadGoesOnWhereItStopped()
    {
        QFETCH(QStringList, server);
        QFETCH(bool, restart);
        QFETCH(bool, newRelease);
        QFETCH(QString, lastRange);

        Feed feed;
        QVERIFY(feed.start("feed", server));
        QVERIFY(feed.publish(nextVersion()));
        const Storage storage;
        const QStringList arguments =
            storage.arguments() +
            QStringList{"--update-feed", feed.url("manifest.json"), "--update-wait", "2"};
        Zorvid daemon;
        QVERIFY(daemon.start(arguments));
        QVERIFY(DaemonClient().checkForUpdate());
        if (restart) {
            // Stopped in the pause before it tries again.
            QTRY_VERIFY_WITH_TIMEOUT(daemon.log().contains("trying again"), 10000);
            QVERIFY(daemon.stop());
            QCOMPARE(QFileInfo(storage.partial()).size(), qint64(700000));
            if (newRelease)
                QVERIFY(feed.publish(nextVersion(2)));
            QVERIFY(daemon.start(arguments));
            QVERIFY(DaemonClient().checkForUpdate());
        }
        QTRY_COMPARE_WITH_TIMEOUT(field("state"), QStringLiteral("ready"), 20000);
        QCOMPARE(readFile(storage.slot()), feed.archive);
        const QStringList requests = feed.requests().filter("/KoboRoot.tgz");
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.first(), QStringLiteral("GET /KoboRoot.tgz range="));
        QCOMPARE(requests.last(), "GET /KoboRoot.tgz range=" + lastRange);
        QCOMPARE(storage.files(), QStringList{"/.kobo/KoboRoot.tgz"});
    }

    // Ready stays ready across zorvid's restarts (the reader's /tmp loses the
    // flag; zorvid makes it again) until the restart that installs it is
    // asked for; an update that the running version has caught up with, or
    // that has left the slot, is forgotten; a state file of an earlier
    // zorvid is read.
    void readyUntilInstalled_data()
    {
        QTest::addColumn<QByteArray>("stateFile"); // %1: the archive's SHA-256
        QTest::addColumn<bool>("slotKept");
        QTest::addColumn<QString>("state");

        const QByteArray staged = "{\"staged\": {\"version\": \"%2\", \"size\": 2000000, "
                                  "\"sha256\": \"%1\"}}";
        QTest::newRow("a newer release in the slot")
            << QByteArray(staged).replace("%2", nextVersion().toLatin1()) << true << "ready";
        QTest::newRow("the running release installed it")
            << QByteArray(staged).replace("%2", builtVersion.toLatin1()) << true << "idle";
        QTest::newRow("the slot was emptied")
            << QByteArray(staged).replace("%2", nextVersion().toLatin1()) << false << "idle";
        QTest::newRow("an earlier zorvid's file")
            << QByteArray("{\"installed\": \"2.0.5\"}\n") << true << "idle";
        QTest::newRow("a file that is not JSON") << QByteArray("\xff\xfe{") << true << "idle";
    }

    void readyUntilInstalled()
    {
        QFETCH(QByteArray, stateFile);
        QFETCH(bool, slotKept);
        QFETCH(QString, state);

        const Storage storage;
        const QByteArray archive(archiveBytes, 'z');
        const QByteArray hash = QCryptographicHash::hash(archive, QCryptographicHash::Sha256);
        QVERIFY(writeFile(storage.stateDir() + "/update.json",
                          QByteArray(stateFile).replace("%1", hash.toHex())));
        if (slotKept)
            QVERIFY(writeFile(storage.slot(), archive));
        Zorvid daemon;
        QVERIFY(daemon.start(storage.arguments() + QStringList{"--update-feed", "none"}));
        QCOMPARE(field("state"), state);
        QCOMPARE(field("current"), builtVersion);
        QCOMPARE(QFile::exists(readyFlag), state == "ready");
        // What is forgotten is forgotten on the storage too.
        QCOMPARE(readFile(storage.stateDir() + "/update.json").contains("\"version\""),
                 state == "ready");
        QVERIFY2(!daemon.log().contains("cannot"), qPrintable(daemon.log()));
        QCOMPARE(DaemonClient().restartForUpdate(), state == "ready");
        if (state != "ready")
            return;
        QCOMPARE(DaemonClient().checkForUpdate(), false);
        QVERIFY(daemon.waitForExit());
        QCOMPARE(daemon.process.exitCode(), 3);
        QVERIFY(QFile::exists(storage.slot()));

        QFile::remove(readyFlag);
        QVERIFY(daemon.start(storage.arguments() + QStringList{"--update-feed", "none"}));
        QCOMPARE(field("state"), QStringLiteral("ready"));
        QVERIFY(QFile::exists(readyFlag));
        // Replaced by someone else's archive: not ready any more.
        QVERIFY(writeFile(storage.slot(), "firmware 4.38"));
        QVERIFY(!DaemonClient().restartForUpdate());
        QCOMPARE(field("state"), QStringLiteral("idle"));
        QVERIFY(!QFile::exists(readyFlag));
    }

    // While a check runs, another is refused, and so is the restart.
    void oneCheckAtATime()
    {
        Feed feed;
        QVERIFY(feed.start("feed", {"--stall", "/manifest.json"}));
        Zorvid daemon;
        QVERIFY(daemon.start(Storage().arguments() +
                             QStringList{"--update-feed", feed.url("manifest.json")}));
        QVERIFY(DaemonClient().checkForUpdate());
        QCOMPARE(field("state"), QStringLiteral("checking"));
        QVERIFY(!DaemonClient().checkForUpdate());
        QVERIFY(!DaemonClient().restartForUpdate());
        // Stopped in the middle, it ends at once.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(daemon.stop());
        QVERIFY(clock.elapsed() < 2000);
    }
};

QTEST_GUILESS_MAIN(TestUpdates)
#include "tst_updates.moc"
