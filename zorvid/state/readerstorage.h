#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <memory>
#include <sys/types.h>

namespace zorvid {

// The reader's storage, which holds the daemon's state when the state folder
// lies under its mount point. While it is away (a USB session, early boot)
// the mount point is a bare folder of the root file system: the state there
// is not the owner's, so nothing is read or written until the storage is
// mounted again, and the state is read afresh when it is, or when another
// file system stands there than the one the state was read from. The kernel
// tells of every change of the mount table, so nothing is polled.
class ReaderStorage : public QObject {
public:
    ReaderStorage(const QString &mountPoint, const QString &stateDir, QObject *parent = nullptr);
    ~ReaderStorage() override;

    // READ reads the state; false when it cannot, which ends the daemon.
    // It runs now if the storage is there, or else once it is mounted, and
    // again whenever it comes back. False when READ failed now.
    bool start(std::function<bool()> read);
    // LEAVE runs whenever the state read goes away with its storage.
    void onLeave(std::function<void()> leave) { departure = std::move(leave); }
    // Whether the state has been read and the storage is there: requests
    // that need the state are refused until then.
    bool isReady() const { return ready; }
    // Checked before every write, in case the storage has just gone or been
    // replaced; false also when the mount table cannot be read.
    bool canWrite();
    // For a file PATH on the storage, the device of the file system the
    // state was read from, on which it must be written; 0 for another path.
    dev_t deviceFor(const QString &path) const;

private:
    bool liesOnStorage(const QString &path) const;
    enum class Presence { There, Away, Unknown };
    // Whether the storage is mounted, by the kernel's table read through the
    // descriptor held (so that it needs none while descriptors run out),
    // and what tells its mount from another.
    Presence look(QByteArray *mountId) const;
    bool arrive(const QByteArray &mountId);
    void mountsChanged();
    void lost();

    QString mountPoint;
    // The state folder lies on the storage: otherwise it is always there.
    bool onStorage;
    std::function<bool()> arrival;
    std::function<void()> departure;
    bool ready = false;
    QByteArray readMountId;
    dev_t stateDevice = 0;
    int mountTable = -1;
    std::unique_ptr<QSocketNotifier> mountWatch;
};

} // namespace zorvid
