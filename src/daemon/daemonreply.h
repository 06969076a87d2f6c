#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

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

// The string member `key` of a reply's object; empty when it is missing or
// not a string. It calls QJsonValue::toString(const QString &), the overload
// Qt 5.2 has; the one without an argument came later.
QString jsonString(const QJsonObject &object, const QString &key);

} // namespace zorvi
