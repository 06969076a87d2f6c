#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QPair>

#include <functional>
#include <memory>

class QFile;

namespace zorvid {

// One HTTP/1.1 reply, sent whole before the connection is closed.
struct HttpReply {
    int status = 500;
    QByteArray contentType;
    QByteArray body;
    // Instead of the body, FILE_LENGTH bytes of an open file from
    // FILE_OFFSET on, read and sent a little at a time as the peer takes
    // them: a book may be larger than the daemon's memory.
    std::shared_ptr<QFile> file;
    qint64 fileOffset = 0;
    qint64 fileLength = 0;
    // The answer to HEAD: the fields of the reply, its body left out.
    bool headOnly = false;
    // Header fields beyond the framing ones, e.g. "Allow".
    QList<QPair<QByteArray, QByteArray>> headers;
    // A short reason added to the request's log line, for refusals.
    QByteArray note;
    // Run once the reply has left (or the peer has gone).
    std::function<void()> afterSent;
    // Set, instead of all the above, for a reply that is made later (on
    // another thread): the connection calls it with the function that sends
    // the reply once it is made, which may be called from its own thread
    // only, and does nothing once the connection has gone or given up.
    using Send = std::function<void(const HttpReply &)>;
    std::function<void(const Send &)> later;

    static HttpReply json(int status, const QJsonValue &value);
    static HttpReply empty(int status);
    // A refusal: {"error": REASON}, and REASON in the log line.
    static HttpReply error(int status, const QByteArray &reason);
    static HttpReply methodNotAllowed(const QByteArray &allowed);

    // Status line, "Content-Type" where there is a body, "Content-Length"
    // (not on 204), "Connection: close", then the body (not the file's).
    QByteArray toBytes() const;
    qint64 contentLength() const { return file ? fileLength : body.size(); }
};

} // namespace zorvid
