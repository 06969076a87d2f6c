#pragma once

#include <QByteArray>

namespace zorvid {

// The part of a file that a request's Range field asks for. One range of
// bytes is served as asked; anything else (several ranges, another unit, a
// field that does not parse) is ignored, as the protocol allows, and the
// whole file served.
struct ByteRange {
    enum class Kind { Whole, Part, Unsatisfiable };

    Kind kind = Kind::Whole;
    qint64 offset = 0;
    qint64 length = 0;

    // FIELD is the Range field's value, empty when there is none; SIZE the
    // file's size.
    static ByteRange parse(const QByteArray &field, qint64 size);
};

} // namespace zorvid
