#include "plugin/pluginlog.h"

#include "plugin/devicepaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <sys/stat.h>

namespace zorvi {

namespace {

// Whether the reader's storage is there: mounted, so on another device than
// the folder that holds its mount point. While it is away, the mount point is
// a bare folder of the root file system, where nothing of the add-on belongs.
bool storageMounted()
{
    struct stat storage, parent;
    return ::stat(storageMount, &storage) == 0 &&
           ::stat((QByteArray(storageMount) + "/..").constData(), &parent) == 0 &&
           storage.st_dev != parent.st_dev;
}

} // namespace

void pluginLog(const QString &message)
{
    if (!storageMounted())
        return;
    QDir().mkpath(QLatin1String(addonDir));

    QFile file(QString::fromLatin1(logFile));
    // No rotation: the log lives on the reader's own storage and only has to
    // tell what happened lately, so an oversized file simply starts afresh.
    const bool tooLarge = file.exists() && file.size() > logSizeLimit;
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Text |
                                     (tooLarge ? QIODevice::Truncate : QIODevice::Append);
    if (!file.open(mode))
        return;

    QTextStream out(&file);
    out << QDateTime::currentDateTime().toString(Qt::ISODate) << ' ' << message << '\n';
}

} // namespace zorvi
