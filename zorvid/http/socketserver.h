#pragma once

#include "http/listener.h"

#include <QObject>

namespace zorvid {

// The daemon's end of the local socket, readable and writable by its owner
// alone; its connections are a Listener's.
class SocketServer : public QObject {
public:
    SocketServer(const QString &path, int capacity, const ConnectionLimits &limits,
                 HttpConnection::Handler handler, QObject *parent = nullptr);
    ~SocketServer() override;

    // Listens at the path. The caller holds the instance lock, so a socket
    // file found there was left by a daemon that is gone and is replaced; a
    // file that is not a socket makes it fail with the reason in ERROR.
    bool listen(QString *error);
    // Stops listening and removes the socket file.
    void close();

private:
    QString path;
    Listener listener;
    bool listening = false;
};

} // namespace zorvid
