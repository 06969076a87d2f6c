#pragma once

#include "daemon/daemonreply.h"

#include <QByteArray>
#include <QString>

namespace zorvi {

// Client of the companion daemon on its local socket. Stateless: every call
// is one blocking HTTP/1.1 exchange on a connection of its own.
class DaemonClient {
public:
    // Bounds of one exchange, in addition to the 1500 ms of each wait.
    static constexpr int waitMs = 1500;
    static constexpr int exchangeDeadlineMs = 5000;
    static constexpr int replySizeLimit = 1 << 20;

    DaemonReply request(const QByteArray &method, const QByteArray &path) const;

    DaemonReply startPairing() const;
    DaemonReply pairingStatus() const;
    void cancelPairing() const;
    DaemonReply listClients() const;
    bool disconnectClient(const QString &id) const;
    DaemonReply updateStatus() const;
    bool checkForUpdate() const;
    bool restartForUpdate() const;
};

} // namespace zorvi
