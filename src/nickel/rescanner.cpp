#include "nickel/rescanner.h"

#include "plugin/devicepaths.h"
#include "plugin/pluginlog.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace zorvi {

namespace {

// Whoever fills the library (a transfer, an unpacked archive) sets the flag
// when done, but may still be settling files. A rescan only after 1500 ms
// without any change in /tmp serves a whole burst of work with one sync.
const int quietMs = 1500;
// ... but no longer than this after the flag appeared, however busy /tmp
// stays: a program that saves a file there every second would otherwise put
// the rescan off for ever.
const int longestWaitMs = 5000;

} // namespace

Rescanner::Rescanner(QObject *parent)
    : QObject(parent)
    , watcher(new QFileSystemWatcher(this))
    , timer(new QTimer(this))
{
    sharedInstance = reinterpret_cast<NickelInstance>(
        nickelFunction(NickelFunction::PlugWorkflowManagerInstance));
    sync = reinterpret_cast<NickelMethod>(nickelFunction(NickelFunction::PlugWorkflowManagerSync));
    if (!sharedInstance || !sync) {
        pluginLog(QStringLiteral("library rescan unavailable: PlugWorkflowManager not found"));
        return;
    }

    timer->setSingleShot(true);
    // The watcher and the timer are children, so they cannot outlive the
    // object their callables refer to.
    connect(timer, &QTimer::timeout, [this] { rescan(); });
    connect(watcher, &QFileSystemWatcher::directoryChanged, [this] { checkFlag(); });
    watcher->addPath(QFileInfo(QString::fromLatin1(rescanFlag)).absolutePath());
    // A request made before Nickel started is served too.
    checkFlag();
}

Rescanner::~Rescanner() = default;

void Rescanner::checkFlag()
{
    // Every change in /tmp while the flag exists starts the count afresh,
    // up to the longest wait. A running count is never stopped here: a flag
    // deleted early by someone else was still a request.
    if (!QFile::exists(QString::fromLatin1(rescanFlag)))
        return;
    if (!timer->isActive())
        waiting.start();
    timer->start(int(qBound<qint64>(0, longestWaitMs - waiting.elapsed(), quietMs)));
}

void Rescanner::rescan()
{
    // Deleted first, so that a flag set again while Nickel syncs is a new
    // request. The deletion itself wakes checkFlag(), which finds no flag.
    QFile::remove(QString::fromLatin1(rescanFlag));

    void *manager = sharedInstance();
    if (!manager) {
        pluginLog(QStringLiteral("library rescan skipped: no PlugWorkflowManager instance"));
        return;
    }
    pluginLog(QStringLiteral("asking Nickel to rescan the library"));
    sync(manager);
}

} // namespace zorvi
