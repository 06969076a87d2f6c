#include "socketserver.h"

#include <QFile>
#include <QLocalSocket>

#include <sys/stat.h>

namespace zorvid {

SocketServer::SocketServer(const QString &path, const ConnectionLimits &limits,
                           HttpConnection::Handler handler, QObject *parent)
    : QObject(parent)
    , path(path)
    , limits(limits)
    , handler(std::move(handler))
{
    connect(&server, &QLocalServer::newConnection, this, &SocketServer::acceptPending);
}

SocketServer::~SocketServer()
{
    close();
}

bool SocketServer::listen(QString *error)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a socket").arg(path);
            return false;
        }
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500)) {
            *error = QStringLiteral("another daemon is listening on %1").arg(path);
            return false;
        }
        QLocalServer::removeServer(path);
    }
    if (!server.listen(path)) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(path, server.errorString());
        return false;
    }
    return true;
}

void SocketServer::close()
{
    if (server.isListening()) {
        server.close();
        QFile::remove(path);
    }
}

void SocketServer::acceptPending()
{
    while (QLocalSocket *socket = server.nextPendingConnection()) {
        auto *connection = new HttpConnection(socket, QString(), limits, handler, this);
        if (openConnections >= maxConnections) {
            HttpReply busy = HttpReply::error(503, "too many open connections");
            connection->refuse(busy);
        }
        ++openConnections;
        connect(connection, &QObject::destroyed, this, [this] { --openConnections; });
    }
}

} // namespace zorvid
