#include "daemon/daemonclient.h"

#include "plugin/devicepaths.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QUrl>

namespace zorvi {

namespace {

// Everything of a request after its path. There is never a body, and the
// daemon closes the connection after its reply, which ends the read at once.
const char requestTail[] =
    " HTTP/1.1\r\nHost: zorvid\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

} // namespace

// One exchange blocks the reader's GUI thread. Each wait (connection, write,
// each piece of the reply) lasts at most 1500 ms, and the whole call at most
// 5000 ms: a daemon that is still sending when that time is up, or that sends
// more than 1 MiB, gives no usable reply, so it can neither freeze the screen
// nor fill the memory.
DaemonReply DaemonClient::request(const QByteArray &method, const QByteArray &path) const
{
    QElapsedTimer clock;
    clock.start();
    const auto nextWait = [&clock] {
        return qBound(0, exchangeDeadlineMs - int(clock.elapsed()), waitMs);
    };

    QLocalSocket socket;
    socket.connectToServer(QString::fromLatin1(daemonSocket), QIODevice::ReadWrite);
    if (!socket.waitForConnected(nextWait()))
        return DaemonReply();

    socket.write(method + ' ' + path + requestTail);
    socket.waitForBytesWritten(nextWait());

    QByteArray bytes;
    while (socket.state() == QLocalSocket::ConnectedState) {
        const int wait = nextWait();
        if (!socket.waitForReadyRead(wait)) {
            // A full wait without data ends the reply; a wait cut short by
            // the deadline means the daemon was still holding it open.
            if (wait < waitMs && socket.state() == QLocalSocket::ConnectedState)
                return DaemonReply();
            break;
        }
        bytes += socket.readAll();
        if (bytes.size() > replySizeLimit)
            return DaemonReply();
    }
    bytes += socket.readAll();
    if (bytes.size() > replySizeLimit)
        return DaemonReply();
    return parseReply(bytes);
}

DaemonReply DaemonClient::startPairing() const
{
    return request("POST", "/pairing");
}

DaemonReply DaemonClient::pairingStatus() const
{
    return request("GET", "/pairing");
}

void DaemonClient::cancelPairing() const
{
    request("DELETE", "/pairing");
}

DaemonReply DaemonClient::listClients() const
{
    return request("GET", "/clients");
}

bool DaemonClient::disconnectClient(const QString &id) const
{
    // Every byte outside the unreserved set is encoded, "/" included, so an
    // id can never reach another path.
    const QByteArray encoded = QUrl::toPercentEncoding(id, QByteArray(), QByteArray());
    return request("DELETE", "/clients/" + encoded).status == 204;
}

DaemonReply DaemonClient::updateStatus() const
{
    return request("GET", "/update");
}

bool DaemonClient::checkForUpdate() const
{
    return request("POST", "/update/check").status == 202;
}

bool DaemonClient::restartForUpdate() const
{
    return request("POST", "/update/restart").status == 202;
}

} // namespace zorvi
