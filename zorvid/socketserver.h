#pragma once

#include "httpconnection.h"

#include <QLocalServer>
#include <QObject>

namespace zorvid {

// The daemon's end of the local socket: accepts connections and gives each
// its own HttpConnection, up to a number open at once.
class SocketServer : public QObject {
public:
    // Past this many open connections a new one is answered 503 at once,
    // so that idle clients cannot use up the daemon's file descriptors.
    static constexpr int maxConnections = 64;

    SocketServer(const QString &path, const ConnectionLimits &limits,
                 HttpConnection::Handler handler, QObject *parent = nullptr);
    ~SocketServer() override;

    // Listens at the path. A socket file left by a daemon that is gone is
    // removed first; a live daemon there, or a file that is not a socket,
    // makes it fail with the reason in ERROR.
    bool listen(QString *error);
    // Stops listening and removes the socket file.
    void close();

private:
    void acceptPending();

    QString path;
    ConnectionLimits limits;
    HttpConnection::Handler handler;
    QLocalServer server;
    int openConnections = 0;
};

} // namespace zorvid
