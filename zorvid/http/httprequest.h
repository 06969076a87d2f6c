#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace zorvid {

// One complete HTTP/1.1 request as received.
struct HttpRequest {
    QByteArray method;
    // The request target as sent, e.g. "/clients/a%20b?x=1".
    QByteArray target;
    // The target without its query, still percent-encoded.
    QByteArray path;
    // Header fields in order of arrival, names in lower case.
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // The sender's network address; empty on the local socket.
    QString peer;

    // The value of the first field called NAME (lower case); empty if none.
    QByteArray header(const QByteArray &name) const;
    // The target's query, after the '?', still percent-encoded.
    QByteArray query() const;
};

} // namespace zorvid
