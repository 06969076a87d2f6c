#include "state/readerstorage.h"

#include "process/daemonlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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
    onStorage = liesOnStorage(stateDir);
}

bool ReaderStorage::liesOnStorage(const QString &path) const
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    return clean == mountPoint || clean.startsWith(mountPoint + QLatin1Char('/'));
}

dev_t ReaderStorage::deviceFor(const QString &path) const
{
    return onStorage && liesOnStorage(path) ? stateDevice : 0;
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
    QByteArray mountId;
    if (look(&mountId) != Presence::There) {
        daemonLog(QStringLiteral("the reader's storage %1 is not mounted: paired devices and "
                                 "updates wait for it, and nothing is written until it is there")
                      .arg(mountPoint));
        return true;
    }
    return arrive(mountId);
}

bool ReaderStorage::canWrite()
{
    QByteArray mountId;
    switch (look(&mountId)) {
    case Presence::Unknown:
        return false;
    case Presence::Away:
        lost();
        return false;
    case Presence::There:
        if (mountId == readMountId)
            return ready;
        // Another file system stands there: the state in memory is not its.
        lost();
        QTimer::singleShot(0, this, &ReaderStorage::mountsChanged);
        return false;
    }
    return false;
}

ReaderStorage::Presence ReaderStorage::look(QByteArray *mountId) const
{
    if (!onStorage)
        return Presence::There;
    if (mountTable < 0 || ::lseek(mountTable, 0, SEEK_SET) != 0)
        return Presence::Unknown;
    QByteArray table;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(mountTable, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Presence::Unknown;
        if (got == 0)
            break;
        table.append(chunk, int(got));
    }
    // Each line: mount id, parent id, device, root, mount point, ...; the
    // last line of a mount point is the mount on top. Mount ids are used
    // again, so the device and the root tell one mount from the next too.
    const QByteArray wanted = QFile::encodeName(mountPoint);
    Presence presence = Presence::Away;
    for (const QByteArray &line : table.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4 && unescaped(fields.at(4)) == wanted) {
            presence = Presence::There;
            *mountId = fields.at(0) + ' ' + fields.at(2) + ' ' + fields.at(3);
        }
    }
    return presence;
}

bool ReaderStorage::arrive(const QByteArray &mountId)
{
    struct stat status;
    if (onStorage && ::stat(QFile::encodeName(mountPoint).constData(), &status) != 0)
        return true; // gone again already: the next change of the table tells
    stateDevice = onStorage ? status.st_dev : 0;
    readMountId = mountId;
    ready = arrival();
    return ready;
}

void ReaderStorage::mountsChanged()
{
    QByteArray mountId;
    const Presence presence = look(&mountId);
    if (presence == Presence::Unknown)
        return;
    if (presence == Presence::Away) {
        lost();
        return;
    }
    if (ready && mountId == readMountId)
        return;
    lost();
    daemonLog(
        QStringLiteral("the reader's storage %1 is there: reading the state").arg(mountPoint));
    if (!arrive(mountId))
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
    if (departure)
        departure();
}

} // namespace zorvid
