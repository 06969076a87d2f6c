#pragma once

#include <QByteArray>
#include <QString>

namespace zorvid {

// Writes one line to standard error: "zorvid HH:MM:SS.mmm MESSAGE".
void daemonLog(const QString &message);

// Bytes from a peer made safe for one log line: printable ASCII as is,
// everything else as \xNN, cut after LIMIT bytes.
QString printable(const QByteArray &bytes, int limit = 120);

} // namespace zorvid
