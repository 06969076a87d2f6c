// The add-on's load-time start-up. The dynamic loader runs pluginStartup()
// once, when Qt's plugin loader maps the library into Nickel; from here the
// add-on's objects are created inside Nickel's process, with the failsafe
// (plugin/failsafe.h) armed for their first twenty seconds.

#include "nickel/injector.h"
#include "nickel/readingtracker.h"
#include "nickel/rescanner.h"
#include "nickel/wifikeeper.h"
#include "plugin/devicepaths.h"
#include "plugin/failsafe.h"
#include "plugin/pluginlog.h"
#include "plugin/runlater.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

// The version the add-on was built as, beside zorvid's the same: kept in
// the library for whoever looks at an installed one (strings libzorvi.so).
extern "C" __attribute__((used)) const char zorviVersion[] = "zorvi-version " ZORVI_VERSION;

namespace {

const int failsafeMs = 20000;

// The add-on's objects, made once Nickel's event loop runs rather than while
// Nickel maps the library: nothing of them is needed before, and every
// moment spent here delays Nickel's own start. Status bars and reading views
// that exist by then are found by the objects' first scans.
void startAddOn(QCoreApplication *app)
{
    zorvi::Injector *injector = new zorvi::Injector(app);
    app->installEventFilter(injector);
    injector->startupScan();
    new zorvi::Rescanner(app);
    app->installEventFilter(new zorvi::ReadingTracker(app));
    new zorvi::WifiKeeper(app);
    // The twenty seconds count from here, where the add-on starts to run,
    // however long Nickel took from mapping the library to its event loop.
    // The application, not an object of the add-on, owns the restore: it
    // must happen even if every object of the add-on is gone by then, and
    // goes only with Nickel itself, when it ends within the twenty seconds.
    zorvi::runLater(app, failsafeMs, [] { zorvi::restoreFailsafe(); });
    zorvi::pluginLog(QStringLiteral("plugin loaded"));
}

// Removes the library under both of its names, zorvid with what starts it,
// then the request itself, so that the next start of Nickel finds no trace
// of the add-on but its folder. The rule goes first, so that Wi-Fi coming on
// starts nothing more; a running keeper sees its programs go and stops
// zorvid.
void uninstall()
{
    zorvi::removeLibrary();
    QFile::remove(QLatin1String(zorvi::udevRule));
    QFile::remove(QLatin1String(zorvi::daemonProgram));
    QFile::remove(QLatin1String(zorvi::keeperProgram));
    QDir().rmdir(QLatin1String(zorvi::daemonFolder));
    QFile::remove(QLatin1String(zorvi::uninstallFile));
    zorvi::pluginLog(QStringLiteral("uninstalled as asked by .adds/zorvi/uninstall"));
}

__attribute__((constructor)) void pluginStartup()
{
    using zorvi::pluginLog;

    const bool located = zorvi::locateLibrary();
    if (located && QFile::exists(QLatin1String(zorvi::uninstallFile))) {
        uninstall();
        return;
    }
    // Qt's loader tries every file of its plugin folder, whatever the name,
    // so the copy left under the failsafe name after an interrupted start is
    // loaded too. It must stand down and leave its name alone: renaming it
    // would switch the add-on back on.
    if (located && zorvi::loadedUnderFailsafeName()) {
        pluginLog(QStringLiteral("loaded under the failsafe name after an interrupted start; "
                                 "staying off"));
        return;
    }
    if (!located || !zorvi::armFailsafe()) {
        pluginLog(QStringLiteral("failsafe could not be armed; not starting"));
        return;
    }
    if (QFile::exists(QLatin1String(zorvi::switchFile))) {
        pluginLog(QStringLiteral("disabled by .adds/zorvi/disable-plugin"));
        zorvi::restoreFailsafe();
        return;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        pluginLog(QStringLiteral("no Qt application yet; not starting"));
        zorvi::restoreFailsafe();
        return;
    }
    // An image read on another thread can make Qt load the plugins there;
    // the add-on's objects and timers belong to Nickel's main thread.
    if (QThread::currentThread() != app->thread()) {
        pluginLog(QStringLiteral("loaded outside Nickel's main thread; not starting"));
        zorvi::restoreFailsafe();
        return;
    }

    zorvi::runLater(app, 0, [app] { startAddOn(app); });
}

} // namespace
