// Renders every page of the panel, in a set of languages, to PNG files, so
// that a person can look at each one. The home page in each state of the
// update section and the pairing page with a real offer of the reference
// daemon are rendered at the screen size of each current reader
// (home-STATE-WxH-LANG.png, pairing-WxH-LANG.png); both result pages, the
// devices list (empty, one device, a few with long names, and 50 on pages
// of which the first and the second are shown) and the confirmation page at
// 1072x1448 (PAGE-LANG.png); and the pairing page and the devices list again
// after the reader is turned to landscape with the panel open
// (turned-PAGE-LANG.png). The daemons listen on /tmp/zorvid.sock, so this
// runs in the mount namespace:
//   scripts/isolate build/tools/pages/render-pages OUTPUT_DIR [LANGUAGE...]

#include "fakedaemon.h"
#include "plugin/devicepaths.h"
#include "readerscreen.h"
#include "ui/devicespage.h"
#include "ui/panel.h"
#include "ui/texttable.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

// The size at which the pages other than home and pairing are rendered.
const QSize referenceSize(1072, 1448);

QByteArray ok(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// 50 devices of an owner who pairs every browser of the family.
QByteArray fiftyDevices()
{
    const char *const kinds[] = {"Phone", "Laptop", "Tablet", "Work PC", "Kitchen tablet"};
    QByteArray list = "[";
    for (int i = 0; i < 50; ++i)
        list += "{\"id\":\"" + QByteArray::number(i) + "\",\"name\":\"" + kinds[i % 5] + ' ' +
                QByteArray::number(i / 5 + 1) +
                "\",\"paired_at\":" + QByteArray::number(1700000000 + i * 86400 * 7) + "},";
    list.chop(1);
    return list + "]";
}

// The devices lists to show: the GET /clients body of each.
const struct {
    const char *name;
    QByteArray clients;
} deviceLists[] = {
    {"empty", "[]"},
    {"one", R"([{"id":"a1","name":"Pixel 8","paired_at":1764000000}])"},
    {"few",
     R"([{"id":"a","name":"Marie-Christine's very long-named Android tablet with a case","paired_at":1733000000},)"
     R"({"id":"b","name":"iPhone","paired_at":1740000000},)"
     R"({"id":"c","name":"Work laptop, Ubuntu 24.04 / Firefox","paired_at":1750000000},)"
     R"({"id":"d","name":"Kitchen tablet","paired_at":1760000000},)"
     R"({"id":"e","name":"Grandpa's phone","paired_at":1764000000}])"},
    {"fifty", fiftyDevices()},
};

// Starts the reference daemon and waits until it answers on its socket.
bool startZorvid(QProcess &zorvid)
{
    zorvid.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    zorvid.setStandardErrorFile(QProcess::nullDevice());
    zorvid.start(QStringLiteral(ZORVID),
                 {QStringLiteral("--phone-port"), QStringLiteral("0"), QStringLiteral("--listen"),
                  QStringLiteral("127.0.0.1"), QStringLiteral("--state-dir"),
                  QStringLiteral("/tmp/render-pages-zorvid")});
    for (int tries = 0; tries < 100; ++tries) {
        QLocalSocket probe;
        probe.connectToServer(QString::fromLatin1(zorvi::daemonSocket));
        if (probe.waitForConnected(100))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool writeLocale(const QString &language)
{
    const QString path = QString::fromLatin1(zorvi::nickelConfigFile);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // Nickel writes locale names with an underscore.
    file.write("[ApplicationPreferences]\nCurrentLocale=" +
               QString(language).replace(QLatin1Char('-'), QLatin1Char('_')).toLatin1() + "\n");
    return true;
}

// Saves the window as OUT/NAME-LANGUAGE.png. The panel is black, white and
// grey, so the picture is kept in shades of grey: a quarter of the bytes
// to compress, which is most of the time spent here.
bool save(QWidget &window, const QString &out, const QString &name, const QString &language)
{
    const QString file = QStringLiteral("%1/%2-%3.png").arg(out, name, language);
    static const QVector<QRgb> greys = [] {
        QVector<QRgb> table;
        for (int level = 0; level < 256; ++level)
            table << qRgb(level, level, level);
        return table;
    }();
    if (window.grab().toImage().convertToFormat(QImage::Format_Indexed8, greys).save(file))
        return true;
    QTextStream(stderr) << "cannot write " << file << "\n";
    return false;
}

// The home page without a daemon and in each state of the update section.
bool renderHomePages(ReaderScreen &screen, const QString &out, const QString &language)
{
    zorvi::Panel &panel = *screen.panel;
    const auto shoot = [&](const char *state) {
        const bool saved = save(
            screen.window, out,
            QStringLiteral("home-%1-%2").arg(QLatin1String(state), sizeName(screen.window.size())),
            language);
        panel.dismiss();
        return saved;
    };
    panel.open();
    if (!shoot("offline"))
        return false;
    FakeDaemon daemon(ReplyScript::at(ok("{\"state\":\"waiting\"}")));
    for (const UpdateState &state : updateStates) {
        daemon.route("GET /update", ReplyScript::at(ok(state.update)));
        panel.open();
        if (state.checkRequested) {
            panel.checkRequested = true;
            panel.refreshUpdate();
        }
        if (!shoot(state.name))
            return false;
    }
    return true;
}

// The pairing page at every size, each with a new offer of one run of the
// reference daemon (an offer replaces the one before).
bool renderPairingPage(std::vector<std::unique_ptr<ReaderScreen>> &screens, const QString &out,
                       const QString &language)
{
    QProcess zorvid;
    if (!startZorvid(zorvid)) {
        QTextStream(stderr) << "zorvid did not start\n";
        return false;
    }
    bool saved = true;
    for (const std::unique_ptr<ReaderScreen> &screen : screens) {
        screen->panel->open();
        screen->panel->beginPairing();
        saved = save(screen->window, out,
                     QStringLiteral("pairing-%1").arg(sizeName(screen->window.size())), language);
        screen->panel->dismiss();
        if (!saved)
            break;
    }
    zorvid.terminate();
    zorvid.waitForFinished();
    return saved;
}

// The two result pages of a pairing.
bool renderResultPages(ReaderScreen &screen, const QString &out, const QString &language)
{
    zorvi::Panel &panel = *screen.panel;
    const struct {
        const char *page;
        const char *state;
    } results[] = {{"paired", R"({"state":"paired","name":"Pixel 8"})"},
                   {"expired", R"({"state":"expired"})"}};
    for (const auto &result : results) {
        FakeDaemon daemon(ReplyScript::at(ok(result.state)));
        daemon.route(
            "POST /pairing",
            ReplyScript::at(ok(R"({"state":"waiting","code":"K7Q2XM","expires_in":600})")));
        panel.open();
        panel.beginPairing();
        panel.pollPairing();
        const bool saved = save(screen.window, out, QLatin1String(result.page), language);
        panel.dismiss();
        if (!saved)
            return false;
    }
    return true;
}

// Taps the visible button of the devices page that reads the key's text.
void tapDevicesButton(zorvi::Panel &panel, const char *key)
{
    const QList<QPushButton *> buttons = panel.devicesPage->findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->isVisible() && button->text() == zorvi::uiText(key)) {
            button->click();
            break;
        }
    }
    QApplication::processEvents();
}

// The devices list in four fillings, the second page of the fullest, and the
// question before a disconnection.
bool renderDevicePages(ReaderScreen &screen, const QString &out, const QString &language)
{
    zorvi::Panel &panel = *screen.panel;
    for (const auto &list : deviceLists) {
        FakeDaemon daemon(ReplyScript::at(ok(R"({"state":"none"})")));
        daemon.route("GET /clients", ReplyScript::at(ok(list.clients)));
        panel.open();
        panel.devicesButton->click();
        QApplication::processEvents();
        const QString name = QLatin1String(list.name);
        bool saved = save(screen.window, out, QStringLiteral("devices-%1").arg(name), language);
        if (saved && name == QLatin1String("fifty")) {
            tapDevicesButton(panel, "nextPage");
            saved = save(screen.window, out, QStringLiteral("devices-fifty-2"), language);
        }
        if (saved && name == QLatin1String("few")) {
            // The first row's own Disconnect button asks the question.
            tapDevicesButton(panel, "disconnect");
            saved = save(screen.window, out, QStringLiteral("confirm"), language);
        }
        panel.dismiss();
        if (!saved)
            return false;
    }
    return true;
}

// The pairing page and the fullest devices list, each opened in portrait and
// then turned to landscape with the panel open.
bool renderTurnedPages(const QString &out, const QString &language)
{
    QProcess zorvid;
    if (!startZorvid(zorvid)) {
        QTextStream(stderr) << "zorvid did not start\n";
        return false;
    }
    ReaderScreen screen(referenceSize);
    zorvi::Panel &panel = *screen.panel;
    const QSize landscape(referenceSize.height(), referenceSize.width());
    panel.open();
    panel.beginPairing();
    screen.window.resize(landscape);
    QApplication::processEvents();
    bool saved = save(screen.window, out, QStringLiteral("turned-pairing"), language);
    panel.dismiss();
    zorvid.terminate();
    zorvid.waitForFinished();

    FakeDaemon daemon(ReplyScript::at(ok(R"({"state":"none"})")));
    daemon.route("GET /clients", ReplyScript::at(ok(fiftyDevices())));
    screen.window.resize(referenceSize);
    panel.open();
    panel.devicesButton->click();
    screen.window.resize(landscape);
    QApplication::processEvents();
    saved = saved && save(screen.window, out, QStringLiteral("turned-devices"), language);
    panel.dismiss();
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    if (args.isEmpty()) {
        err << "usage: render-pages OUTPUT_DIR [LANGUAGE...]\n";
        return 2;
    }
    const QString out = args.takeFirst();
    if (args.isEmpty())
        args = QStringList{"en", "de", "fi", "ar", "he", "hi", "th", "ja", "ko", "zh-Hant"};
    QDir().mkpath(out);

    std::vector<std::unique_ptr<ReaderScreen>> screens;
    ReaderScreen *reference = nullptr;
    for (const QSize &size : readerScreens) {
        screens.emplace_back(new ReaderScreen(size));
        if (size == referenceSize)
            reference = screens.back().get();
    }

    for (const QString &language : args) {
        if (zorvi::languageIndex(language) < 0 || !writeLocale(language)) {
            err << "unknown language " << language << "\n";
            return 2;
        }
        zorvi::loadUiLanguage();
        for (const std::unique_ptr<ReaderScreen> &screen : screens) {
            if (!renderHomePages(*screen, out, language))
                return 1;
        }
        if (!renderPairingPage(screens, out, language) ||
            !renderResultPages(*reference, out, language) ||
            !renderDevicePages(*reference, out, language) || !renderTurnedPages(out, language))
            return 1;
    }
    return 0;
}
