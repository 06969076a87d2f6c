#pragma once

#include "connectionpool.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

namespace zorvid {

// The daemon's end of the local socket, readable and writable by its owner
// alone. Connections go to a ConnectionPool. Accepting never ends: when it
// fails (no descriptor left, say) it pauses for a moment and goes on, and
// the socket file stays where it is.
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
    void acceptPending();

    QString path;
    ConnectionPool pool;
    int descriptor = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer resume;
    bool failing = false;
};

} // namespace zorvid
