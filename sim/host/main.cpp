// nickel-sim: a stand-in for Nickel, the e-reader's Qt application, with the
// widgets, functions and settings an add-on living inside Nickel relies on.

#include "hostoptions.h"
#include "hostoutput.h"
#include "imageplugins.h"
#include "librarysync.h"
#include "n3powerworkflowmanager.h"
#include "nickelsettings.h"
#include "nickelwindow.h"
#include "plugworkflowmanager.h"
#include "scriptrunner.h"
#include "wirelesswatchdog.h"

#include <QApplication>
#include <QPointer>
#include <QStyleFactory>
#include <QTimer>

namespace {

// Exit code of a reboot asked for through N3PowerWorkflowManager::reboot().
constexpr int rebootExitCode = 3;
constexpr int usageExitCode = 2;

void setEInkLook(QApplication &app, int screenHeight)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette(Qt::black, Qt::white);
    palette.setColor(QPalette::Highlight, Qt::black);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    app.setPalette(palette);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(qMax(8, screenHeight / 60));
    app.setFont(font);
}

} // namespace

int main(int argc, char *argv[])
{
    if (HostOptions::helpAsked(argc, argv)) {
        const QCoreApplication core(argc, argv);
        HostOptions().parse(QCoreApplication::arguments());
        return 0;
    }
    QApplication app(argc, argv);
    HostOptions options;
    options.pluginPath = QStringLiteral(NICKEL_SIM_DEFAULT_PLUGIN_PATH);
    switch (options.parse(app.arguments())) {
    case HostOptions::Outcome::HelpShown:
        return 0;
    case HostOptions::Outcome::Invalid:
        return usageExitCode;
    case HostOptions::Outcome::Run:
        break;
    }
    setEInkLook(app, options.screenSize.height());
    hostSay(QStringLiteral("started %1x%2")
                .arg(options.screenSize.width())
                .arg(options.screenSize.height()));

    const QString locale = readCurrentLocale(options.configPath);
    hostSay(locale.isEmpty() ? QStringLiteral("locale not set")
                             : QStringLiteral("locale %1").arg(locale));

    // Nickel's managers exist before any plugin is loaded; a plugin finds
    // them through sharedInstance() unless the host runs without them.
    QPointer<NickelWindow> window;
    LibrarySync library(options.storagePath);
    PlugWorkflowManager plugManager([&window, &library](int syncCount) {
        // As in Nickel, the books are in the database when the sync is done.
        const bool synced = library.run();
        hostSay(QStringLiteral("library sync %1").arg(syncCount));
        hostSay(
            synced
                ? QStringLiteral("library sync %1: %2 books imported, %3 removed")
                      .arg(syncCount)
                      .arg(library.imported())
                      .arg(library.removed())
                : QStringLiteral("error: library sync %1: %2").arg(syncCount).arg(library.error()));
        if (window)
            window->showSyncNotice(syncCount);
    });
    bool rebooting = false;
    N3PowerWorkflowManager powerManager([&rebooting] {
        hostSay(QStringLiteral("reboot"));
        rebooting = true;
        // The device goes down once control is back in the event loop; the
        // caller's own code returns first, as on the device.
        QTimer *down = new QTimer(qApp);
        down->setSingleShot(true);
        QObject::connect(down, &QTimer::timeout, qApp,
                         [] { QCoreApplication::exit(rebootExitCode); });
        down->start(0);
    });
    // Wi-Fi follows the inactivity rule whether or not a plugin can reach
    // the watchdog to keep it on.
    WirelessWatchdog wifiWatchdog(options.wifiIdleMs);
    QObject::connect(&wifiWatchdog, &WirelessWatchdog::wifiKeptOn,
                     [] { hostSay(QStringLiteral("wifi kept on")); });
    QObject::connect(&wifiWatchdog, &WirelessWatchdog::wifiTurnedOff,
                     [] { hostSay(QStringLiteral("wifi off after idle")); });
    if (options.plugManager)
        PlugWorkflowManager::setSharedInstance(&plugManager);
    if (options.powerManager)
        N3PowerWorkflowManager::setSharedInstance(&powerManager);
    if (options.wifiWatchdog)
        WirelessWatchdog::setSharedInstance(&wifiWatchdog);

    hostSay(QStringLiteral("loading image formats from %1").arg(options.pluginPath));
    const QStringList formats = loadImagePlugins(options.pluginPath);
    hostSay(QStringLiteral("image formats loaded: %1").arg(formats.join(QLatin1Char(' '))));

    NickelWindow mainWindow(options.screenSize);
    window = &mainWindow;
    if (plugManager.syncCount() > 0)
        mainWindow.showSyncNotice(plugManager.syncCount());
    mainWindow.show();
    hostSay(QStringLiteral("home shown"));

    ScriptRunner script(&mainWindow, &wifiWatchdog);
    if (!options.scriptPath.isEmpty() && !script.addScriptFile(options.scriptPath)) {
        hostSay(QStringLiteral("error: cannot read script %1").arg(options.scriptPath));
        return usageExitCode;
    }
    if (options.readStandardInput)
        script.readStandardInput();
    script.start();

    int exitCode = app.exec();
    // A script's quit in the same turn of the event loop must not hide a
    // reboot that was asked for.
    if (rebooting)
        exitCode = rebootExitCode;
    PlugWorkflowManager::setSharedInstance(nullptr);
    N3PowerWorkflowManager::setSharedInstance(nullptr);
    WirelessWatchdog::setSharedInstance(nullptr);
    hostSay(QStringLiteral("exit %1").arg(exitCode));
    return exitCode;
}
