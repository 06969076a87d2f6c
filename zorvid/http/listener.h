#pragma once

#include "http/connectionpool.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

namespace zorvid {

// A listening socket whose connections go to a ConnectionPool, taken a few
// at a time per turn of the event loop: a flood of connections cannot keep
// the loop from reading the requests already taken, from answering other
// listeners, or from deleting the connections it dropped. Accepting never
// ends: when it fails (no descriptor left, say) it pauses for a moment and
// goes on.
class Listener : public QObject {
public:
    // NAME tells the listener in log lines; LOG_PREFIX starts its
    // connections' lines.
    Listener(const QString &name, const QString &logPrefix, int capacity,
             const ConnectionLimits &limits, HttpConnection::Handler handler,
             QObject *parent = nullptr);
    ~Listener() override;

    // Takes over DESCRIPTOR, a stream socket of the local (AF_UNIX) or the
    // IPv4 family that is bound and listening.
    void start(int descriptor);
    void close();

private:
    void acceptPending();

    QString name;
    ConnectionPool pool;
    int descriptor = -1;
    bool local = false;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer resume;
    bool failing = false;
};

} // namespace zorvid
