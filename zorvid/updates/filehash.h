#pragma once

#include <QByteArray>
#include <QString>

namespace zorvid {

// The SHA-256 of the file at PATH as it lies on the storage, read a little
// at a time; empty when it cannot be read to its end.
QByteArray fileSha256(const QString &path);

} // namespace zorvid
