#pragma once

#include <QByteArray>
#include <QJsonDocument>

namespace zorvi {

// The outcome of one exchange with the daemon.
struct DaemonReply {
    // HTTP status code of the reply; 0 when there was no usable reply.
    int status = 0;
    // The body parsed as JSON; null when empty, not JSON, or no usable reply.
    QJsonDocument json;
};

// Reduces the raw bytes of one HTTP/1.1 reply to its status and JSON body.
DaemonReply parseReply(const QByteArray &bytes);

} // namespace zorvi
