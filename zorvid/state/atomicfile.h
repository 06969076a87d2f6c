#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace zorvid {

// Replaces PATH with BYTES so that the file is at every moment the old
// content or the new one, whole: the bytes go to a temporary file beside it
// (mode 0600), which is synced and renamed over it, and then the folder is
// synced. Every step is checked, so a storage that is full or gone fails the
// call (false, with the reason in ERROR), the old file stays as it was and
// the temporary one is removed. Given a DEVICE, the file must come to lie on
// that file system, or nothing is written: a storage swapped under the
// caller's feet takes nothing meant for another.
bool replaceFile(const QString &path, const QByteArray &bytes, QString *error, dev_t device = 0);

// Removes what replaceFile() left beside PATH when the process was killed in
// the middle.
void removeLeftovers(const QString &path);

} // namespace zorvid
