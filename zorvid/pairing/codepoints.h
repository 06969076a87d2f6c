#pragma once

#include <QString>
#include <QVector>

namespace zorvid {

// The code points of TEXT, a broken surrogate kept as the value it has (so
// QChar::isSurrogate() finds it), where QString::toUcs4() would hide it
// behind U+FFFD.
QVector<uint> codePoints(const QString &text);

} // namespace zorvid
