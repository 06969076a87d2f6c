#include "http/httpconnection.h"

#include "process/daemonlog.h"
#include "process/logbudget.h"

#include <QFile>
#include <QHostAddress>
#include <QLocalSocket>
#include <QPointer>
#include <QTcpSocket>

#include <sys/ioctl.h>
#include <sys/socket.h>

namespace zorvid {

namespace {

qintptr descriptorOf(QIODevice *socket)
{
    if (auto *local = qobject_cast<QLocalSocket *>(socket))
        return local->socketDescriptor();
    if (auto *tcp = qobject_cast<QAbstractSocket *>(socket))
        return tcp->socketDescriptor();
    return -1;
}

} // namespace

HttpConnection::HttpConnection(QIODevice *socket, const QString &logPrefix,
                               const ConnectionLimits &limits, Handler handler, LogBudget *budget,
                               QObject *parent)
    : QObject(parent)
    , socket(socket)
    , descriptor(descriptorOf(socket))
    , logPrefix(logPrefix)
    , limits(limits)
    , handler(std::move(handler))
    , budget(budget)
    , reader(limits.headBytes, limits.bodyBytes)
{
    socket->setParent(this);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &HttpConnection::deadlinePassed);
    deadline.start(limits.requestTimeoutMs);
    connect(socket, &QIODevice::readyRead, this, &HttpConnection::readAvailable);
    connect(socket, &QIODevice::bytesWritten, this, [this] {
        if (fileLeft > 0) {
            sendMore();
            return;
        }
        // The peer takes the reply: it has as long again for the rest.
        if (!halfClosed)
            deadline.start(this->limits.stallMs);
        closeSendingSideWhenWritten();
    });
    if (auto *local = qobject_cast<QLocalSocket *>(socket))
        connect(local, &QLocalSocket::disconnected, this, &HttpConnection::finish);
    else if (auto *tcp = qobject_cast<QAbstractSocket *>(socket)) {
        connect(tcp, &QAbstractSocket::disconnected, this, &HttpConnection::finish);
        peer = tcp->peerAddress().toString();
    }
    // Bytes may have arrived before the signals were connected.
    if (socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &HttpConnection::readAvailable);
}

bool HttpConnection::bytesWaiting() const
{
    int waiting = 0;
    return socket->bytesAvailable() > 0 || ::ioctl(int(descriptor), FIONREAD, &waiting) != 0 ||
           waiting > 0;
}

void HttpConnection::drop()
{
    if (finished)
        return;
    if (!replied) {
        const QByteArray busy = HttpReply::error(503, "too many connections").toBytes();
        ::send(int(descriptor), busy.constData(), size_t(busy.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    abort();
}

void HttpConnection::readAvailable()
{
    const QByteArray bytes = socket->readAll();
    if (replied || awaiting) {
        // Whatever follows the request is dropped, up to a bound.
        drained += bytes.size();
        if (drained > limits.drainBytes)
            abort();
        return;
    }
    if (opening.size() < 64)
        opening += bytes.left(64 - opening.size());

    switch (reader.feed(bytes)) {
    case RequestReader::Progress::NeedMore:
        return;
    case RequestReader::Progress::Complete: {
        HttpRequest request = reader.request();
        request.peer = peer;
        const HttpReply reply = handler(request);
        if (!reply.later) {
            answer(request, reply);
            return;
        }
        awaiting = true;
        deadline.start(limits.madeLaterMs);
        const QPointer<HttpConnection> self(this);
        reply.later([self, request](const HttpReply &made) {
            if (self && self->awaiting)
                self->answer(request, made);
        });
        return;
    }
    case RequestReader::Progress::Failed:
        log(logPrefix + QStringLiteral("%1 %2 after %3 bytes: %4")
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
    if (reply.file && reply.fileLength > 0 && !reply.headOnly) {
        if (!reply.file->seek(reply.fileOffset)) {
            log(logPrefix + QStringLiteral("- cannot read %1").arg(reply.file->fileName()));
            abort();
            return;
        }
        file = reply.file;
        fileLeft = reply.fileLength;
        sendMore();
        return;
    }
    // Until the reply has left, the deadline bounds how long the peer may
    // take no part of it; after that, how long it may take to go.
    deadline.start(limits.stallMs);
}

void HttpConnection::sendMore()
{
    // A buffer of two chunks keeps the kernel fed without holding much of a
    // book in memory for a slow phone.
    constexpr qint64 chunk = 64 * 1024;
    while (fileLeft > 0 && socket->bytesToWrite() < chunk) {
        const QByteArray bytes = file->read(qMin(chunk, fileLeft));
        if (bytes.isEmpty()) {
            // Shortened or unreadable since it was opened: the peer must not
            // take what it got for the whole file.
            log(logPrefix +
                QStringLiteral("- %1 ended %2 bytes early").arg(file->fileName()).arg(fileLeft));
            abort();
            return;
        }
        fileLeft -= bytes.size();
        socket->write(bytes);
    }
    deadline.start(limits.stallMs);
    if (fileLeft == 0)
        file.reset();
}

void HttpConnection::answer(const HttpRequest &request, const HttpReply &reply)
{
    awaiting = false;
    // One pass of arg(): a "%2" in the target must stay as it is.
    QString line = logPrefix + QStringLiteral("%1 %2 %3")
                                   .arg(QString::fromLatin1(request.method),
                                        printable(request.target), QString::number(reply.status));
    if (!reply.note.isEmpty())
        line += QLatin1Char(' ') + QString::fromUtf8(reply.note);
    log(line);
    send(reply);
}

void HttpConnection::closeSendingSideWhenWritten()
{
    if (!replied || halfClosed || socket->bytesToWrite() > 0)
        return;
    halfClosed = true;
    // The peer reads the reply to its end and closes; until then the
    // connection reads and drops what still comes.
    ::shutdown(int(descriptor), SHUT_WR);
    deadline.start(limits.lingerMs);
}

void HttpConnection::deadlinePassed()
{
    if (awaiting) {
        awaiting = false;
        log(logPrefix + QStringLiteral("503 no reply made within %1 ms").arg(limits.madeLaterMs));
        send(HttpReply::error(503, "no reply made in time"));
        return;
    }
    if (!replied) {
        log(logPrefix + QStringLiteral("408 request not complete within %1 ms after %2 bytes")
                            .arg(limits.requestTimeoutMs)
                            .arg(reader.received()));
        send(HttpReply::error(408, "request not complete in time"));
        return;
    }
    if (!halfClosed)
        log(logPrefix + QStringLiteral("- cut off: the peer took none of its reply for %1 ms, "
                                       "%2 bytes unsent")
                            .arg(limits.stallMs)
                            .arg(socket->bytesToWrite() + fileLeft));
    abort();
}

void HttpConnection::abort()
{
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
        log(logPrefix +
            QStringLiteral("- client left after %1 bytes of a request").arg(reader.received()));
    if (afterSent)
        afterSent();
    deleteLater();
}

void HttpConnection::log(const QString &line)
{
    if (budget)
        budget->log(line);
    else
        daemonLog(line);
}

} // namespace zorvid
