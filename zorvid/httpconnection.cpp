#include "httpconnection.h"

#include "daemonlog.h"

#include <QLocalSocket>
#include <QTcpSocket>

namespace zorvid {

HttpConnection::HttpConnection(QIODevice *socket, const QString &logPrefix,
                               const ConnectionLimits &limits, Handler handler, QObject *parent)
    : QObject(parent)
    , socket(socket)
    , logPrefix(logPrefix)
    , limits(limits)
    , handler(std::move(handler))
    , reader(limits.headBytes, limits.bodyBytes)
{
    socket->setParent(this);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &HttpConnection::deadlinePassed);
    deadline.start(limits.requestTimeoutMs);
    connect(socket, &QIODevice::readyRead, this, &HttpConnection::readAvailable);
    if (auto *local = qobject_cast<QLocalSocket *>(socket))
        connect(local, &QLocalSocket::disconnected, this, &HttpConnection::finish);
    else if (auto *tcp = qobject_cast<QAbstractSocket *>(socket))
        connect(tcp, &QAbstractSocket::disconnected, this, &HttpConnection::finish);
    // Bytes may have arrived before the signals were connected.
    if (socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &HttpConnection::readAvailable);
}

void HttpConnection::refuse(const HttpReply &reply)
{
    daemonLog(logPrefix +
              QStringLiteral("%1 %2").arg(reply.status).arg(QString::fromUtf8(reply.note)));
    // The reply goes out at once, but the connection is closed only once the
    // request has come in (or the linger time is up): closing a local socket
    // with unread bytes resets it, and the client would lose the reply.
    replied = true;
    refusing = true;
    socket->write(reply.toBytes());
    deadline.start(limits.lingerMs);
}

void HttpConnection::readAvailable()
{
    const QByteArray bytes = socket->readAll();
    if (refusing) {
        if (reader.feed(bytes) != RequestReader::Progress::NeedMore)
            close();
        return;
    }
    if (replied)
        return; // the request is answered; whatever follows is dropped
    if (opening.size() < 64)
        opening += bytes.left(64 - opening.size());

    switch (reader.feed(bytes)) {
    case RequestReader::Progress::NeedMore:
        return;
    case RequestReader::Progress::Complete: {
        const HttpRequest &request = reader.request();
        const HttpReply reply = handler(request);
        // One pass of arg(): a "%2" in the target must stay as it is.
        QString line =
            logPrefix + QStringLiteral("%1 %2 %3")
                            .arg(QString::fromLatin1(request.method), printable(request.target),
                                 QString::number(reply.status));
        if (!reply.note.isEmpty())
            line += QLatin1Char(' ') + QString::fromUtf8(reply.note);
        daemonLog(line);
        send(reply);
        return;
    }
    case RequestReader::Progress::Failed:
        daemonLog(logPrefix + QStringLiteral("%1 %2 after %3 bytes: %4")
                                  .arg(reader.failureStatus())
                                  .arg(QString::fromLatin1(reader.failureReason()))
                                  .arg(reader.received())
                                  .arg(printable(opening, 48)));
        send(HttpReply::error(reader.failureStatus(), reader.failureReason()));
        return;
    }
}

void HttpConnection::send(const HttpReply &reply)
{
    replied = true;
    afterSent = reply.afterSent;
    socket->write(reply.toBytes());
    // From here the deadline bounds how long the reply may take to leave.
    deadline.start(limits.lingerMs);
    close();
}

void HttpConnection::close()
{
    // Both wait until what was written has left before they close.
    if (auto *local = qobject_cast<QLocalSocket *>(socket))
        local->disconnectFromServer();
    else if (auto *tcp = qobject_cast<QAbstractSocket *>(socket))
        tcp->disconnectFromHost();
}

void HttpConnection::deadlinePassed()
{
    if (!replied) {
        daemonLog(logPrefix + QStringLiteral("408 request not complete within %1 ms after %2 bytes")
                                  .arg(limits.requestTimeoutMs)
                                  .arg(reader.received()));
        send(HttpReply::error(408, "request not complete in time"));
        return;
    }
    // The peer does not take the reply: drop it.
    if (auto *local = qobject_cast<QLocalSocket *>(socket))
        local->abort();
    else if (auto *tcp = qobject_cast<QAbstractSocket *>(socket))
        tcp->abort();
    finish();
}

void HttpConnection::finish()
{
    if (finished)
        return;
    finished = true;
    deadline.stop();
    if (!replied && reader.received() > 0)
        daemonLog(
            logPrefix +
            QStringLiteral("- client left after %1 bytes of a request").arg(reader.received()));
    if (afterSent)
        afterSent();
    deleteLater();
}

} // namespace zorvid
