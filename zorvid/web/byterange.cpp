#include "byterange.h"

namespace zorvid {

namespace {

// A run of 1 to 18 digits (larger would overflow, and no file is that
// large); -1 otherwise. "Too many digits" is -2, which a caller reads as
// "beyond any file".
qint64 digits(const QByteArray &text)
{
    if (text.isEmpty())
        return -1;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
    }
    return text.size() > 18 ? -2 : text.toLongLong();
}

} // namespace

ByteRange ByteRange::parse(const QByteArray &field, qint64 size)
{
    ByteRange whole;
    whole.length = size;
    const QByteArray value = field.trimmed();
    const int equals = value.indexOf('=');
    if (equals < 0 || value.left(equals).trimmed().toLower() != "bytes")
        return whole;
    const QByteArray ranges = value.mid(equals + 1).trimmed();
    const int dash = ranges.indexOf('-');
    if (dash < 0 || ranges.contains(','))
        return whole;
    const QByteArray first = ranges.left(dash).trimmed();
    const QByteArray last = ranges.mid(dash + 1).trimmed();

    ByteRange part;
    part.kind = Kind::Part;
    if (first.isEmpty()) {
        // "-N": the last N bytes.
        const qint64 suffix = digits(last);
        if (suffix == -1)
            return whole;
        if (suffix == 0 || size == 0) {
            part.kind = Kind::Unsatisfiable;
            return part;
        }
        part.length = suffix == -2 ? size : qMin(suffix, size);
        part.offset = size - part.length;
        return part;
    }
    const qint64 start = digits(first);
    // "N-": from N to the end.
    const qint64 end = last.isEmpty() ? -2 : digits(last);
    if (start == -1 || end == -1 || (end >= 0 && start >= 0 && end < start))
        return whole;
    if (start == -2 || start >= size) {
        part.kind = Kind::Unsatisfiable;
        return part;
    }
    part.offset = start;
    part.length = (end == -2 || end >= size ? size - 1 : end) - start + 1;
    return part;
}

} // namespace zorvid
