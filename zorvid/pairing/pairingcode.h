#pragma once

#include <QString>

namespace zorvid {

// The short code a person types on the other device to pair it.
class PairingCode {
public:
    static constexpr int length = 6;
    // Upper-case letters and digits without those that are easily taken for
    // one another: 0/O, 1/I/L.
    static const char alphabet[];

    // A fresh code from the secure random source.
    static QString generate();
    // What a person typed, as a code: upper case, without blanks or hyphens
    // ("abc 234" and "ABC-234" are both "ABC234").
    static QString normalized(const QString &typed);
};

} // namespace zorvid
