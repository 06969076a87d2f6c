#include "process/instancelock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zorvid {

InstanceLock::~InstanceLock()
{
    if (descriptor >= 0)
        ::close(descriptor);
}

bool InstanceLock::acquire(const QString &path, QString *error)
{
    descriptor = ::open(QFile::encodeName(path).constData(),
                        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor >= 0 && ::flock(descriptor, LOCK_EX | LOCK_NB) == 0)
        return true;
    *error = errno == EWOULDBLOCK
                 ? QStringLiteral("another zorvid is running (it holds %1)").arg(path)
                 : QStringLiteral("cannot lock %1: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
    return false;
}

} // namespace zorvid
