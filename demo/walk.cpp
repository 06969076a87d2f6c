// The whole add-on as a user meets it: libzorvi.so loaded by Qt's plugin
// loader into the Nickel stand-in, next to the reference daemon, walked
// through every feature with real touches, with a screenshot and a line of
// summary at each step and an assertion behind each. The README's demo runs
// it; CTest runs it as the end-to-end test. Run it in the mount namespace:
//   scripts/isolate build/demo/zorvi-walk OUTPUT_DIR

#include "daemon/daemonclient.h"
#include "plugin/devicepaths.h"
#include "ui/uitext.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>
#include <QThread>

#include <functional>
#include <memory>

namespace {

const QString pluginRoot = QStringLiteral("/tmp/kobo");
const QString installSlot = QStringLiteral("/mnt/onboard/.kobo/KoboRoot.tgz");
const QString zorvidState = QStringLiteral("/mnt/onboard/.adds/zorvi/zorvid");
const QString storage = QStringLiteral("/mnt/onboard");
// The phone's screenshots in the summary, as wide as a phone beside the
// reader's.
const int phoneWidth = 200;

// A failed expectation ends the walk; the summary says where.
struct WalkFailure {
    QString what;
};

void expect(bool condition, const QString &what)
{
    if (!condition)
        throw WalkFailure{what};
}

bool waitUntil(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    expect(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(content) == content.size(),
           QStringLiteral("cannot write %1").arg(path));
}

// The Nickel stand-in, driven line by line through its standard input.
class Sim {
public:
    explicit Sim(const QString &out)
        : out(out)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(NICKEL_SIM),
                      {QStringLiteral("--plugin-path"), pluginRoot, QStringLiteral("--stdin")});
        expect(process.waitForStarted(), QStringLiteral("nickel-sim did not start"));
        expect(waitFor(QStringLiteral("home shown")),
               QStringLiteral("nickel-sim showed no home screen"));
    }
    ~Sim()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // Sends a command without waiting for it.
    void send(const QString &command) { process.write(command.toUtf8() + '\n'); }

    // Sends a command and waits until the stand-in has carried it out.
    QString run(const QString &command)
    {
        const int mark = lines.size();
        process.write(command.toUtf8() + "\nfind zorviWalkMark\n");
        expect(waitFor(QStringLiteral("find zorviWalkMark"), mark),
               QStringLiteral("nickel-sim did not answer \"%1\"").arg(command));
        return QStringList(lines.mid(mark)).join(QLatin1Char('\n'));
    }

    // One description line per widget of that name.
    QStringList find(const QString &name)
    {
        QStringList found;
        for (const QString &line : run(QStringLiteral("find ") + name).split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("nickel-sim: find %1: class=").arg(name)))
                found << line;
        return found;
    }

    // The text of the visible widget of that name, or a null string.
    QString visibleText(const QString &name)
    {
        for (const QString &line : find(name))
            if (line.contains(QLatin1String(" visible=yes ")))
                return line.section(QStringLiteral(" text="), 1);
        return QString();
    }

    QString screenshot(const QString &file)
    {
        run(QStringLiteral("screenshot %1/%2").arg(out, file));
        expect(QFile::exists(out + QLatin1Char('/') + file),
               QStringLiteral("no screenshot %1").arg(file));
        return file;
    }

    bool waitFor(const QString &text, int from = 0, int ms = 10000)
    {
        return waitUntil(
            [&] {
                readLines();
                for (int i = from; i < lines.size(); ++i)
                    if (lines.at(i).contains(text))
                        return true;
                return false;
            },
            ms);
    }

    int finish(int ms = 10000)
    {
        process.closeWriteChannel();
        process.waitForFinished(ms);
        readLines();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QStringList lines;

private:
    void readLines()
    {
        while (process.canReadLine() || process.waitForReadyRead(0)) {
            if (!process.canReadLine())
                break;
            lines << QString::fromUtf8(process.readLine()).trimmed();
        }
    }

    QString out;
    QProcess process;
};

// The update feed: this build's test feed over HTTPS on the loopback
// interface (tools/feed), publishing a release after this one whose archive
// holds this build's module.
class Feed {
public:
    Feed()
    {
        const QString root = QStringLiteral("/tmp/feed");
        const QString staging = root + QStringLiteral("/staging/usr/local/Kobo/imageformats");
        QDir().mkpath(staging);
        expect(
            QFile::copy(QStringLiteral(ZORVI_MODULE), staging + QStringLiteral("/libzorvi.so")) &&
                QProcess::execute(QStringLiteral("tar"),
                                  {QStringLiteral("-czf"), root + QStringLiteral("/KoboRoot.tgz"),
                                   QStringLiteral("-C"), root + QStringLiteral("/staging"),
                                   QStringLiteral("usr")}) == 0,
            QStringLiteral("cannot pack the release"));
        server.start(QStringLiteral("python3"),
                     {QStringLiteral(FEED_TOOLS "/feedserver.py"), QStringLiteral("--cert"),
                      QStringLiteral(FEED_CREDENTIALS "/feed.pem"), QStringLiteral("--key"),
                      QStringLiteral(FEED_CREDENTIALS "/feed.key"), QStringLiteral("--root"),
                      root});
        expect(server.waitForReadyRead(10000), QStringLiteral("the feed did not start"));
        manifest = QStringLiteral("https://localhost:%1/manifest.json")
                       .arg(QString::fromLatin1(server.readLine().trimmed()));
        QProcess signer;
        signer.setStandardOutputFile(root + QStringLiteral("/manifest.json"));
        signer.start(QStringLiteral("python3"),
                     {QStringLiteral(FEED_TOOLS "/manifest.py"), QStringLiteral("--key"),
                      QStringLiteral(FEED_CREDENTIALS "/signing.key"), QStringLiteral("--version"),
                      release, QStringLiteral("--archive"), root + QStringLiteral("/KoboRoot.tgz"),
                      QStringLiteral("--url"),
                      QString(manifest).replace(QStringLiteral("manifest.json"),
                                                QStringLiteral("KoboRoot.tgz"))});
        expect(signer.waitForFinished() && signer.exitCode() == 0,
               QStringLiteral("cannot sign the release"));
    }
    ~Feed()
    {
        server.terminate();
        server.waitForFinished();
    }

    // One step after this build's version: 2.0.0 gives 2.0.1.
    const QString release = [] {
        QStringList parts = QStringLiteral(ZORVI_VERSION).split(QLatin1Char('.'));
        parts.last() = QString::number(parts.last().toInt() + 1);
        return parts.join(QLatin1Char('.'));
    }();
    QString manifest;
    QProcess server;
};

// The reference daemon, with the feed's address.
class Daemon {
public:
    explicit Daemon(const Feed &feed)
    {
        process.setStandardErrorFile(QStringLiteral("/tmp/zorvid.log"), QIODevice::Append);
        process.start(QStringLiteral(ZORVID),
                      {QStringLiteral("--phone-port"), QStringLiteral("0"),
                       QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                       QStringLiteral("--state-dir"), zorvidState, QStringLiteral("--update-feed"),
                       feed.manifest, QStringLiteral("--install-slot"), installSlot});
        expect(waitUntil([] { return zorvi::DaemonClient().pairingStatus().status != 0; }, 5000),
               QStringLiteral("zorvid does not answer"));
    }
    ~Daemon()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished();
        }
    }

    QProcess process;
};

QString decodeQr(const QString &picture)
{
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), picture});
    zbar.waitForFinished();
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

// One step of the phone's side (demo/phone/phone.mjs) in Chromium; what it
// saw, or the end of the walk with its reason.
QJsonObject runPhone(const QStringList &arguments)
{
    QProcess node;
    node.start(QStringLiteral("node"), QStringList{QStringLiteral(PHONE_WALK)} + arguments);
    expect(node.waitForFinished(60000), QStringLiteral("the phone's browser did not finish"));
    const QByteArray output = node.readAllStandardOutput().trimmed();
    const QJsonObject seen =
        QJsonDocument::fromJson(output.mid(output.lastIndexOf('\n') + 1)).object();
    expect(node.exitStatus() == QProcess::NormalExit && node.exitCode() == 0,
           QStringLiteral("the phone: %1 %2")
               .arg(seen.value(QLatin1String("error")).toString(),
                    QString::fromUtf8(node.readAllStandardError().left(2000))));
    return seen;
}

int clientCount()
{
    return zorvi::DaemonClient().listClients().json.array().size();
}

// The summary, a Markdown page with a picture per step.
class Summary {
public:
    void step(const QString &text, const QString &picture = QString(), int width = 360)
    {
        page += QStringLiteral("\n## %1. %2\n").arg(++count).arg(text);
        if (!picture.isEmpty())
            page += QStringLiteral("\n<img src=\"%1\" width=\"%2\">\n").arg(picture).arg(width);
        QTextStream(stdout) << count << ". " << text << '\n';
    }
    void note(const QString &text) { page += QLatin1Char('\n') + text + QLatin1Char('\n'); }
    QString page = QStringLiteral("# Zorvi in the Nickel stand-in\n");
    int count = 0;
};

void walk(const QString &out, Summary &summary)
{
    QDir().mkpath(pluginRoot + QStringLiteral("/imageformats"));
    expect(QFile::copy(QStringLiteral(ZORVI_MODULE),
                       pluginRoot + QStringLiteral("/imageformats/libzorvi.so")),
           QStringLiteral("cannot install libzorvi.so"));
    writeFile(QString::fromLatin1(zorvi::nickelConfigFile),
              "[ApplicationPreferences]\nCurrentLocale=en_US\n");
    const QString module = pluginRoot + QStringLiteral("/imageformats/libzorvi.so");
    // Nickel's library, with the books' files and covers, for the phone to see.
    expect(QProcess::execute(QStringLiteral("python3"),
                             {QStringLiteral(MAKELIBRARY),
                              storage + QStringLiteral("/.kobo/KoboReader.sqlite"),
                              QStringLiteral("120"), QStringLiteral("--storage"), storage}) == 0,
           QStringLiteral("cannot write the library"));
    const Feed feed;
    const QString version = QStringLiteral("Zorvi " ZORVI_VERSION);
    std::unique_ptr<Daemon> daemon(new Daemon(feed));
    std::unique_ptr<Sim> sim(new Sim(out));

    // Start-up: loaded by Qt's plugin loader, failsafe armed, icons in place.
    expect(
        waitUntil(
            [] { return readFile(QString::fromLatin1(zorvi::logFile)).contains("plugin loaded"); },
            5000),
        QStringLiteral("the add-on did not start"));
    expect(QFile::exists(module + QStringLiteral(".failsafe")) && !QFile::exists(module),
           QStringLiteral("the failsafe is not armed"));
    const QStringList icon = sim->find(QStringLiteral("zorviStatusIcon"));
    const QStringList search = sim->find(QStringLiteral("searchIcon"));
    expect(icon.size() == 1 && search.size() == 1,
           QStringLiteral("not exactly one icon on the home screen"));
    const auto left = [](const QString &line) {
        return line.section(QStringLiteral("geometry="), 1).section(QLatin1Char(','), 0, 0).toInt();
    };
    expect(left(icon.first()) < left(search.first()),
           QStringLiteral("the icon is not before the search icon"));
    summary.step(
        QStringLiteral("Nickel loaded libzorvi.so through Qt's plugin loader; the failsafe "
                       "is armed, and the Zorvi icon stands before the search icon."),
        sim->screenshot(QStringLiteral("01-home.png")));

    sim->run(QStringLiteral("open-book"));
    expect(QFile::exists(QString::fromLatin1(zorvi::readingFlag)),
           QStringLiteral("no reading flag with a book open"));
    expect(sim->find(QStringLiteral("zorviStatusIcon")).size() == 2,
           QStringLiteral("the reading screen has no icon"));
    summary.step(QStringLiteral("A book is open: the reading screen's status bar has its icon, and "
                                "/tmp/zorvi-reading exists."),
                 sim->screenshot(QStringLiteral("02-reading.png")));
    sim->run(QStringLiteral("close-book"));
    expect(!QFile::exists(QString::fromLatin1(zorvi::readingFlag)),
           QStringLiteral("the reading flag outlived the book"));
    summary.note(QStringLiteral("The book closed: /tmp/zorvi-reading is gone."));

    // Pairing a phone: Chromium at a phone's size opens the QR code's address.
    sim->run(QStringLiteral("tap zorviStatusIcon"));
    expect(sim->visibleText(QStringLiteral("version")) == version,
           QStringLiteral("the panel did not open on its home page"));
    summary.step(QStringLiteral("A touch on the icon opens the panel."),
                 sim->screenshot(QStringLiteral("03-panel.png")));
    sim->run(QStringLiteral("tap-text Connect a device"));
    const QString pairing = sim->screenshot(QStringLiteral("04-pairing.png"));
    const QString address = decodeQr(out + QLatin1Char('/') + pairing);
    expect(address.startsWith(QLatin1String("http://127.0.0.1:")),
           QStringLiteral("the QR code does not scan"));
    summary.step(QStringLiteral("The pairing page; its QR code scans as %1.").arg(address),
                 pairing);
    const QJsonObject phone = runPhone({QStringLiteral("pair"), address, out, storage});
    summary.step(QStringLiteral("On the phone, in Chromium: the QR code's address opens the "
                                "pairing page with the code filled in and the phone's name "
                                "proposed."),
                 QStringLiteral("phone-1-pairing.png"), phoneWidth);
    summary.step(QStringLiteral("Connect leads to the library: %1 shown, %2.")
                     .arg(phone.value(QLatin1String("shown")).toInt())
                     .arg(phone.value(QLatin1String("summary")).toString()),
                 QStringLiteral("phone-2-dashboard.png"), phoneWidth);
    summary.step(QStringLiteral("A search finds \"%1\"; its download, %2 (%3 bytes), is the "
                                "book's file byte for byte.")
                     .arg(phone.value(QLatin1String("found")).toArray().first().toString(),
                          phone.value(QLatin1String("downloaded")).toString())
                     .arg(phone.value(QLatin1String("bytes")).toInt()),
                 QStringLiteral("phone-3-search.png"), phoneWidth);
    summary.step(QStringLiteral("\"%1\" has %2; its page shows them by chapter in reading "
                                "order, and its Markdown export is %3 (%4 lines).")
                     .arg(phone.value(QLatin1String("notesOf")).toString(),
                          phone.value(QLatin1String("notesCount")).toString(),
                          phone.value(QLatin1String("exported")).toString())
                     .arg(phone.value(QLatin1String("exportedLines")).toInt()),
                 QStringLiteral("phone-6-highlights.png"), phoneWidth);
    summary.step(QStringLiteral("A browser set to Hebrew sees the library right to left."),
                 QStringLiteral("phone-4-hebrew.png"), phoneWidth);
    expect(waitUntil(
               [&] {
                   return sim->visibleText(QStringLiteral("title"))
                       .contains(QLatin1String("Device connected"));
               },
               5000),
           QStringLiteral("the panel did not see the pairing"));
    summary.step(QStringLiteral("The phone entered the code; the panel names it."),
                 sim->screenshot(QStringLiteral("05-paired.png")));
    sim->run(QStringLiteral("tap-text Done"));

    // The devices page, before and after a disconnection.
    sim->run(QStringLiteral("tap zorviStatusIcon"));
    sim->run(QStringLiteral("tap-text Connected devices"));
    expect(clientCount() == 1, QStringLiteral("the daemon does not list the phone"));
    summary.step(QStringLiteral("Connected devices lists the phone."),
                 sim->screenshot(QStringLiteral("06-devices.png")));
    sim->run(QStringLiteral("tap-text Disconnect"));
    summary.step(QStringLiteral("Disconnect asks first."),
                 sim->screenshot(QStringLiteral("07-confirm.png")));
    sim->run(QStringLiteral("tap-text Disconnect"));
    expect(clientCount() == 0, QStringLiteral("the phone is still connected"));
    summary.step(QStringLiteral("After the disconnection the list is empty."),
                 sim->screenshot(QStringLiteral("08-devices-after.png")));
    const QString origin = address.section(QLatin1Char('/'), 0, 2);
    runPhone({QStringLiteral("refused"), origin, out,
              phone.value(QLatin1String("downloadUrl")).toString()});
    summary.step(QStringLiteral("On the phone, the library is gone at once: the browser is sent to "
                                "the pairing page, and the download is refused."),
                 QStringLiteral("phone-5-refused.png"), phoneWidth);
    sim->run(QStringLiteral("tap-text Back"));

    // An update: checked, downloaded, the badge, and the restart.
    sim->run(QStringLiteral("tap-text Check for updates"));
    expect(
        waitUntil([] { return QFile::exists(QString::fromLatin1(zorvi::updateReadyFlag)); }, 10000),
        QStringLiteral("the update did not become ready"));
    // The panel polls every 2000 ms while the daemon is busy: give it one more.
    waitUntil([] { return false; }, 2500);
    summary.step(QStringLiteral("Check for updates: the daemon found %1 in the signed feed, "
                                "downloaded it over HTTPS, and the panel offers the restart.")
                     .arg(feed.release),
                 sim->screenshot(QStringLiteral("09-update-ready.png")));
    sim->run(QStringLiteral("tap-text Close"));
    summary.step(QStringLiteral("While the update waits, the icon wears its badge."),
                 sim->screenshot(QStringLiteral("10-badge.png")));
    sim->run(QStringLiteral("tap zorviStatusIcon"));
    sim->send(QStringLiteral("tap-text Restart and update"));
    const int rebootStatus = sim->finish();
    expect(rebootStatus == 3,
           QStringLiteral("Nickel did not reboot (exit %1): %2")
               .arg(rebootStatus)
               .arg(QStringList(sim->lines.mid(sim->lines.size() - 8)).join(QLatin1Char('\n'))));
    summary.note(QStringLiteral("Restart and update called Nickel's own reboot: the stand-in ended "
                                "with its reboot status."));

    // The reader boots: its firmware unpacks the waiting archive, which puts
    // libzorvi.so in place under its own name (beside a failsafe copy if the
    // restart came within the first twenty seconds), and removes it; then
    // Nickel and the add-on start again. The stand-in's archive holds this
    // build's module and no new zorvid, so the version stays: the emulated
    // reader's walk installs a newer release of everything.
    daemon.reset();
    expect(readFile(installSlot) == readFile(QStringLiteral("/tmp/feed/KoboRoot.tgz")),
           QStringLiteral("the staged update is not the release's archive"));
    QFile::remove(installSlot);
    QFile::remove(module);
    expect(QFile::copy(QStringLiteral(ZORVI_MODULE), module),
           QStringLiteral("cannot install the update"));
    daemon.reset(new Daemon(feed));
    sim.reset(new Sim(out));
    sim->run(QStringLiteral("tap zorviStatusIcon"));
    expect(sim->visibleText(QStringLiteral("version")) == version &&
               !QFile::exists(QString::fromLatin1(zorvi::updateReadyFlag)),
           QStringLiteral("the update is still waiting after the restart"));
    summary.step(QStringLiteral("After the restart the archive is unpacked and gone, and the "
                                "badge with it."),
                 sim->screenshot(QStringLiteral("11-updated.png")));
    sim->run(QStringLiteral("tap-text Close"));

    // A library rescan asked for by another process.
    writeFile(QString::fromLatin1(zorvi::rescanFlag), QByteArray());
    expect(sim->waitFor(QStringLiteral("library sync 1")), QStringLiteral("no library rescan"));
    expect(!QFile::exists(QString::fromLatin1(zorvi::rescanFlag)),
           QStringLiteral("the rescan flag stayed"));
    summary.step(
        QStringLiteral("/tmp/zorvi-rescan made Nickel rescan its library after 1.5 s of quiet."),
        sim->screenshot(QStringLiteral("12-rescan.png")));

    // Nickel's language, read at every tap.
    for (const char *locale : {"de_DE", "ja_JP"}) {
        writeFile(QString::fromLatin1(zorvi::nickelConfigFile),
                  "[ApplicationPreferences]\nCurrentLocale=" + QByteArray(locale) + "\n");
        sim->run(QStringLiteral("tap zorviStatusIcon"));
        const QString file = QStringLiteral("13-panel-%1.png").arg(QLatin1String(locale));
        summary.step(
            QStringLiteral("Nickel set to %1: the next tap shows the panel in that language.")
                .arg(QLatin1String(locale)),
            sim->screenshot(file));
        // The panel's Close button now reads as the table has it for that
        // language, and no longer in English.
        zorvi::loadUiLanguage();
        const QString close = zorvi::uiText("close");
        expect(close != QLatin1String("Close") &&
                   !sim->run(QStringLiteral("tap-text ") + close).contains(QLatin1String("error:")),
               QStringLiteral("the panel is not in %1").arg(QLatin1String(locale)));
    }
    // Nickel has run for twenty seconds: the failsafe stands down.
    expect(waitUntil(
               [&] {
                   return QFile::exists(module) &&
                          !QFile::exists(module + QStringLiteral(".failsafe"));
               },
               25000),
           QStringLiteral("the failsafe did not give the file its name back"));
    summary.step(QStringLiteral(
        "Twenty seconds after Nickel started, the failsafe gave libzorvi.so its own name back."));
    sim->send(QStringLiteral("quit"));
    expect(sim->finish() == 0, QStringLiteral("nickel-sim did not quit cleanly"));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: zorvi-walk OUTPUT_DIR\n";
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    // Off screen, unless the demo was asked to show the stand-in live.
    if (qEnvironmentVariableIsEmpty("ZORVI_WALK_WINDOW"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Summary summary;
    int status = 0;
    try {
        walk(out, summary);
        summary.note(QStringLiteral("\nEvery step passed."));
    } catch (const WalkFailure &failure) {
        summary.note(QStringLiteral("\n**Failed:** ") + failure.what);
        QTextStream(stderr) << "walk failed: " << failure.what << '\n';
        status = 1;
    }
    summary.note(QStringLiteral("\n## The add-on's log\n\n```\n") +
                 QString::fromUtf8(readFile(QString::fromLatin1(zorvi::logFile))) +
                 QStringLiteral("```\n"));
    for (const QString &name : {QStringLiteral("plugin.log"), QStringLiteral("zorvid.log")})
        QFile::remove(out + QLatin1Char('/') + name);
    QFile::copy(QString::fromLatin1(zorvi::logFile), out + QStringLiteral("/plugin.log"));
    QFile::copy(QStringLiteral("/tmp/zorvid.log"), out + QStringLiteral("/zorvid.log"));
    writeFile(out + QStringLiteral("/summary.md"), summary.page.toUtf8());
    return status;
}
