#include "rawexchange.h"

#include "plugin/devicepaths.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTcpSocket>

namespace {

template <typename Socket> QByteArray readUntilClosed(Socket &socket, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QByteArray received;
    while (clock.elapsed() < timeoutMs && socket.isOpen()) {
        received += socket.readAll();
        if (socket.state() == Socket::UnconnectedState)
            break;
        socket.waitForReadyRead(int(qMax<qint64>(1, timeoutMs - clock.elapsed())));
    }
    if (socket.isOpen())
        received += socket.readAll();
    return received;
}

} // namespace

QByteArray RawReply::header(const QByteArray &name) const
{
    for (const QByteArray &line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

RawReply RawReply::parse(const QByteArray &bytes)
{
    RawReply reply;
    const int end = bytes.indexOf("\r\n\r\n");
    if (!bytes.startsWith("HTTP/1.1 ") || end < 0) {
        reply.framingProblem = QStringLiteral("no status line and header end in \"%1\"")
                                   .arg(QString::fromLatin1(bytes.left(80)));
        return reply;
    }
    reply.head = bytes.left(end);
    reply.body = bytes.mid(end + 4);
    reply.status = bytes.mid(9, 3).toInt();

    const QByteArray length = reply.header("Content-Length");
    if (reply.status == 204) {
        if (!length.isNull() || !reply.body.isEmpty())
            reply.framingProblem = QStringLiteral("204 with a length or a body");
    } else if (length != QByteArray::number(reply.body.size())) {
        reply.framingProblem = QStringLiteral("Content-Length %1 for a body of %2 bytes")
                                   .arg(QString::fromLatin1(length))
                                   .arg(reply.body.size());
    }
    const QByteArray type = reply.header("Content-Type");
    if (!reply.body.isEmpty() && type == "application/json" &&
        QJsonDocument::fromJson(reply.body).isNull())
        reply.framingProblem = QStringLiteral("a JSON type on a body that is not JSON");
    if (!reply.body.isEmpty() && type.isEmpty())
        reply.framingProblem = QStringLiteral("a body without Content-Type");
    if (reply.header("Connection") != "close")
        reply.framingProblem = QStringLiteral("no Connection: close");
    return reply;
}

QByteArray exchangeOnSocket(const QByteArray &bytes, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(QString::fromLatin1(zorvi::daemonSocket));
    if (!socket.waitForConnected(timeoutMs))
        return QByteArray();
    socket.write(bytes);
    socket.waitForBytesWritten(timeoutMs);
    return readUntilClosed(socket, timeoutMs);
}

QByteArray exchangeOnPort(quint16 port, const QByteArray &bytes, int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return QByteArray();
    socket.write(bytes);
    socket.waitForBytesWritten(timeoutMs);
    return readUntilClosed(socket, timeoutMs);
}

QByteArray addOnRequest(const QByteArray &method, const QByteArray &path)
{
    return method + ' ' + path +
           " HTTP/1.1\r\nHost: zorvid\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}
