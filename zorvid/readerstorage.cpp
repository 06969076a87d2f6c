#include "readerstorage.h"

#include "daemonlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace zorvid {

namespace {

const char mountTablePath[] = "/proc/self/mountinfo";

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
}

ReaderStorage::~ReaderStorage()
{
    mountWatch.reset();
    if (mountTable >= 0)
        ::close(mountTable);
}

bool ReaderStorage::start(std::function<bool()> read)
{
    arrival = std::move(read);
    if (onStorage) {
        // The mount table signals a change as an exceptional condition.
        mountTable = ::open(mountTablePath, O_RDONLY | O_CLOEXEC);
        if (mountTable < 0) {
            daemonLog(QStringLiteral("cannot read %1: the reader's storage cannot be seen")
                          .arg(QLatin1String(mountTablePath)));
        } else {
            mountWatch.reset(new QSocketNotifier(mountTable, QSocketNotifier::Exception));
            connect(mountWatch.get(), &QSocketNotifier::activated, this,
                    &ReaderStorage::mountsChanged);
        }
    }
    if (!isPresent()) {
        daemonLog(QStringLiteral("the reader's storage %1 is not mounted: paired devices and "
                                 "updates wait for it, and nothing is written until it is there")
                      .arg(mountPoint));
        return true;
    }
    ready = arrival();
    return ready;
}

bool ReaderStorage::canWrite()
{
    if (isPresent())
        return true;
    lost();
    return false;
}

// The kernel's table of this process's mounts: the fifth field of each line
// is a mount point.
bool ReaderStorage::isPresent() const
{
    if (!onStorage)
        return true;
    QFile table(QString::fromLatin1(mountTablePath));
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

void ReaderStorage::mountsChanged()
{
    if (!isPresent()) {
        lost();
        return;
    }
    if (ready)
        return;
    daemonLog(
        QStringLiteral("the reader's storage %1 is there: reading the state").arg(mountPoint));
    ready = arrival();
    if (!ready)
        QCoreApplication::exit(1);
}

void ReaderStorage::lost()
{
    if (!ready)
        return;
    ready = false;
    daemonLog(QStringLiteral("the reader's storage %1 has gone: paired devices and updates wait "
                             "for it, and nothing is written until it is back")
                  .arg(mountPoint));
}

} // namespace zorvid
