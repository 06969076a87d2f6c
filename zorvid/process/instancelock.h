#pragma once

#include <QString>

namespace zorvid {

// What makes a daemon the only one: a lock on a file, held for the life of
// the process (the kernel lets it go however the process ends).
class InstanceLock {
public:
    InstanceLock() = default;
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;
    ~InstanceLock();

    // False, with the reason in ERROR, when another process holds it.
    bool acquire(const QString &path, QString *error);

private:
    int descriptor = -1;
};

} // namespace zorvid
