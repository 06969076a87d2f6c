#pragma once

#include "http/httpconnection.h"

#include <QList>
#include <QObject>
#include <QTimer>

namespace zorvid {

// The open connections of one listener, at most a fixed number at once, so
// that the daemon never runs out of file descriptors. A new connection over
// that number makes room by dropping an older one: first one that has its
// whole reply and sends nothing more, else one that has sent nothing, else
// one still sending after its reply, else the oldest whose request has not
// come in. So a burst of idle or slow clients cannot keep out a client that
// asks and goes at once, and refusing costs the daemon nothing but a close.
class ConnectionPool : public QObject {
public:
    ConnectionPool(const QString &logPrefix, int capacity, const ConnectionLimits &limits,
                   HttpConnection::Handler handler, QObject *parent = nullptr);

    // How many connections each of LISTENERS may hold, from the process's
    // limit of open files (raised to its hard limit first), with room left
    // for what the daemon itself opens; at most 64.
    static int capacityFor(int listeners);

    // How many connections a listener accepts in one turn of the event loop:
    // few enough that the requests of those taken are read before another
    // batch of a burst can push them out.
    int acceptsPerTurn() const { return qMax(1, capacity / 4); }
    // Takes over a freshly accepted SOCKET.
    void adopt(QIODevice *socket);
    int size() const { return open.size(); }

private:
    void makeRoom();
    void report();
    void log(const QString &line);

    QString logPrefix;
    int capacity;
    ConnectionLimits limits;
    HttpConnection::Handler handler;
    // Null when its connections' lines are not bounded.
    LogBudget *budget;
    // Oldest first.
    QList<HttpConnection *> open;
    // Connections dropped since the last log line about them.
    int dropped = 0;
    QTimer reportTimer;
};

} // namespace zorvid
