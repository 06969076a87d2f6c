#include "readerstorage.h"

#include "daemonlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace zorvid {

namespace {

constexpr int pollMs = 1000;

// "/mnt/my\040disk" as the kernel writes mount points into its tables.
QByteArray unescaped(const QByteArray &field)
{
    QByteArray path;
    for (int i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            path += char(field.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else {
            path += field.at(i);
        }
    }
    return path;
}

} // namespace

ReaderStorage::ReaderStorage(const QString &mountPoint, const QString &stateDir, QObject *parent)
    : QObject(parent)
    , mountPoint(QDir::cleanPath(QDir(mountPoint).absolutePath()))
{
    const QString state = QDir::cleanPath(QDir(stateDir).absolutePath());
    onStorage = state == this->mountPoint || state.startsWith(this->mountPoint + QLatin1Char('/'));
    poller.setInterval(pollMs);
    connect(&poller, &QTimer::timeout, this, &ReaderStorage::poll);
}

bool ReaderStorage::start(std::function<bool()> read)
{
    arrival = std::move(read);
    if (!isPresent()) {
        watch();
        return true;
    }
    ready = arrival();
    return ready;
}

bool ReaderStorage::canWrite()
{
    if (isPresent())
        return true;
    if (ready) {
        ready = false;
        watch();
    }
    return false;
}

// The kernel's table of this process's mounts: the fifth field of each line
// is a mount point.
bool ReaderStorage::isPresent() const
{
    if (!onStorage)
        return true;
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = QFile::encodeName(mountPoint);
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && unescaped(fields.at(4)) == wanted)
            return true;
    }
    return false;
}

void ReaderStorage::watch()
{
    daemonLog(QStringLiteral("the reader's storage %1 is not mounted: paired devices and updates "
                             "wait for it, and nothing is written until it is back")
                  .arg(mountPoint));
    poller.start();
}

void ReaderStorage::poll()
{
    if (!isPresent())
        return;
    poller.stop();
    daemonLog(QStringLiteral("the reader's storage %1 is back").arg(mountPoint));
    ready = arrival();
    if (!ready)
        QCoreApplication::exit(1);
}

} // namespace zorvid
