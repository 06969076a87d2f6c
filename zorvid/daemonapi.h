#pragma once

#include "httpreply.h"
#include "httprequest.h"

#include <functional>

namespace zorvid {

class ClientList;
class Pairing;
class Updater;

// The endpoints of the daemon's socket, each answered from the state behind
// it: "/pairing", "/clients", "/clients/<id>", "/update", "/update/check"
// and "/update/restart".
class DaemonApi {
public:
    // ON_RESTART runs once the reply to an accepted restart has left.
    DaemonApi(Pairing &pairing, ClientList &clients, Updater &updater,
              std::function<void()> onRestart);

    HttpReply handle(const HttpRequest &request);

private:
    HttpReply pairingEndpoint(const QByteArray &method);
    HttpReply clientEndpoint(const QByteArray &method, const QByteArray &encodedId);
    HttpReply checkEndpoint();
    HttpReply restartEndpoint();

    Pairing &pairing;
    ClientList &clients;
    Updater &updater;
    std::function<void()> onRestart;
};

} // namespace zorvid
