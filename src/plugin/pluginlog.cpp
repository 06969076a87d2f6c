#include "plugin/pluginlog.h"

#include "plugin/devicepaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextStream>

namespace zorvi {

namespace {

// Whether the reader's storage is there, mounted, as the kernel's table of
// this process's mounts says. While it is away, its mount point is a bare
// folder of the root file system, where nothing of the add-on belongs. (The
// table rather than the folders' device numbers: the reader's C library has
// no stat() function for a library to call; today's has it since 2.33.)
bool storageMounted()
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    return mounts.readAll().contains(QByteArray(" ") + storageMount + ' ');
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
