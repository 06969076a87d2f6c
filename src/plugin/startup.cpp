// The add-on's load-time start-up. The dynamic loader runs pluginStartup()
// once, when Qt's plugin loader maps the library into Nickel; from here the
// add-on's objects are created inside Nickel's process.
//
// The failsafe: for the first twenty seconds the library's file carries a
// second name. If Nickel dies or restarts in that time the file keeps that
// name, and the copy Qt loads under it at the next start stays off, so a
// fault of the add-on cannot lock the user out of their reader.

#include "nickel/injector.h"
#include "nickel/readingtracker.h"
#include "nickel/rescanner.h"
#include "plugin/devicepaths.h"
#include "plugin/dynamicloader.h"
#include "plugin/pluginlog.h"
#include "plugin/runlater.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits.h>

namespace {

const char failsafeSuffix[] = ".failsafe";
const int failsafeMs = 20000;

// Static buffers, written once before any timer can fire: realpath() can
// deliver at most PATH_MAX - 1 characters, and the suffix always fits after it.
char pluginPath[PATH_MAX];
char failsafePath[PATH_MAX + 16];

void restoreFailsafe()
{
    if (std::rename(failsafePath, pluginPath) != 0)
        zorvi::pluginLog(QStringLiteral("failsafe: could not restore plugin"));
}

bool loadedUnderFailsafeName()
{
    const size_t length = std::strlen(pluginPath);
    const size_t suffixLength = sizeof failsafeSuffix - 1;
    return length >= suffixLength &&
           std::strcmp(pluginPath + length - suffixLength, failsafeSuffix) == 0;
}

// Finds the canonical path of the library's own file and the failsafe name
// beside it.
bool locateOwnFile()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&zorvi::pluginLog), &info) == 0 || !info.dli_fname)
        return false;
    if (!realpath(info.dli_fname, pluginPath))
        return false;
    std::snprintf(failsafePath, sizeof failsafePath, "%s%s", pluginPath, failsafeSuffix);
    return true;
}

// Pins the library in memory and moves its file to the failsafe name. Qt may
// unload the plugin later, while the objects and timers created at start-up
// still run code of this library.
bool pinAndArm()
{
    if (!dlopen(pluginPath, RTLD_LAZY | RTLD_NODELETE))
        return false;
    return std::rename(pluginPath, failsafePath) == 0;
}

// Removes the library under both of its names, then the request itself, so
// that the next start of Nickel finds no trace of the add-on but its folder.
void uninstall()
{
    QString library = QFile::decodeName(pluginPath);
    if (loadedUnderFailsafeName())
        library.chop(int(sizeof failsafeSuffix) - 1);
    QFile::remove(library);
    QFile::remove(library + QLatin1String(failsafeSuffix));
    QFile::remove(QLatin1String(zorvi::uninstallFile));
    zorvi::pluginLog(QStringLiteral("uninstalled as asked by .adds/zorvi/uninstall"));
}

__attribute__((constructor)) void pluginStartup()
{
    using zorvi::pluginLog;

    const bool located = locateOwnFile();
    if (located && QFile::exists(QLatin1String(zorvi::uninstallFile))) {
        uninstall();
        return;
    }
    // Qt's loader tries every file of its plugin folder, whatever the name,
    // so the copy left under the failsafe name after an interrupted start is
    // loaded too. It must stand down and leave its name alone: renaming it
    // would switch the add-on back on.
    if (located && loadedUnderFailsafeName()) {
        pluginLog(QStringLiteral("loaded under the failsafe name after an interrupted start; "
                                 "staying off"));
        return;
    }
    if (!located || !pinAndArm()) {
        pluginLog(QStringLiteral("failsafe could not be armed; not starting"));
        return;
    }
    if (QFile::exists(QLatin1String(zorvi::switchFile))) {
        pluginLog(QStringLiteral("disabled by .adds/zorvi/disable-plugin"));
        restoreFailsafe();
        return;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        pluginLog(QStringLiteral("no Qt application yet; not starting"));
        restoreFailsafe();
        return;
    }

    // Status bars that exist already get their icons from a scan once the
    // event loop runs; those shown later, through the filter. The timer's
    // context is the injector, so the scan is dropped if it is gone first.
    zorvi::Injector *injector = new zorvi::Injector(app);
    app->installEventFilter(injector);
    zorvi::runLater(injector, 0, [injector] { injector->startupScan(); });

    new zorvi::Rescanner(app);
    app->installEventFilter(new zorvi::ReadingTracker(app));

    // The application, not an object of the add-on, owns the restore: it
    // must happen even if every object of the add-on is gone by then, and
    // goes only with Nickel itself, when it ends within the twenty seconds.
    zorvi::runLater(app, failsafeMs, restoreFailsafe);

    pluginLog(QStringLiteral("plugin loaded"));
}

} // namespace
