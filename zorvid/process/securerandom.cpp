#include "process/securerandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

namespace zorvid {

QByteArray SecureRandom::bytes(int count)
{
    QByteArray buffer(count, Qt::Uninitialized);
    int filled = 0;
    while (filled < count) {
        const ssize_t got = ::getrandom(buffer.data() + filled, size_t(count - filled), 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // Without a secure source no code may be made: stop rather than
            // hand out a guessable one.
            std::abort();
        }
        filled += int(got);
    }
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
