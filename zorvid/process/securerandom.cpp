#include "process/securerandom.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zorvid {

namespace {

// The kernel's generator through getrandom(2), which kernels before 3.17
// lack (and glibc before 2.25 has no function for): false when it is not
// there.
bool fromGetrandom(char *buffer, int count)
{
    int filled = 0;
    while (filled < count) {
        const long got = ::syscall(SYS_getrandom, buffer + filled, size_t(count - filled), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        filled += int(got);
    }
    return true;
}

// The same generator through /dev/urandom, as older kernels offer it.
bool fromDevice(char *buffer, int count)
{
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int filled = 0;
    while (filled < count) {
        const ssize_t got = ::read(fd, buffer + filled, size_t(count - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += int(got);
    }
    ::close(fd);
    return filled == count;
}

} // namespace

QByteArray SecureRandom::bytes(int count)
{
    QByteArray buffer(count, Qt::Uninitialized);
    // Without a secure source no code may be made: stop rather than hand
    // out a guessable one.
    if (!fromGetrandom(buffer.data(), count) && !fromDevice(buffer.data(), count))
        std::abort();
    return buffer;
}

int SecureRandom::below(int bound)
{
    // Bytes from the top partial block would favour the low numbers.
    const int usable = 256 - 256 % bound;
    for (;;) {
        const int value = static_cast<unsigned char>(bytes(1).at(0));
        if (value < usable)
            return value % bound;
    }
}

} // namespace zorvid
