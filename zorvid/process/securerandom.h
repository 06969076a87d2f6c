#pragma once

#include <QByteArray>

namespace zorvid {

// Bytes from the kernel's cryptographically secure generator: getrandom(2)
// where the kernel has it, /dev/urandom where it does not.
class SecureRandom {
public:
    static QByteArray bytes(int count);
    // A number below BOUND (at most 256), without modulo bias.
    static int below(int bound);
};

} // namespace zorvid
