#include "endpoints/phoneactivity.h"

#include "process/daemonlog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvid {

namespace {

// How old the flag's time may be before a request touches it again: far
// below the few minutes after which the add-on takes the phone for gone.
const time_t refreshSeconds = 30;

} // namespace

PhoneActivity::PhoneActivity(const QString &flagPath)
    : path(flagPath.toLocal8Bit())
{
}

PhoneActivity::~PhoneActivity()
{
    ::unlink(path.constData());
}

void PhoneActivity::mark()
{
    // A time ahead of the clock (the clock was set back) is no fresh one.
    struct stat status;
    if (::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode) &&
        std::labs(long(std::time(nullptr) - status.st_mtime)) < refreshSeconds)
        return;

    const int descriptor =
        ::open(path.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    const bool touched = descriptor >= 0 && ::futimens(descriptor, nullptr) == 0;
    const int error = errno;
    if (descriptor >= 0)
        ::close(descriptor);
    if (!touched && !failing) {
        daemonLog(
            QStringLiteral("cannot mark the phone as active in %1: %2")
                .arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(std::strerror(error))));
    }
    failing = !touched;
}

} // namespace zorvid
