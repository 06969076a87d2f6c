#pragma once

#include "http/httpreply.h"
#include "http/httprequest.h"

#include <functional>

namespace zorvid {

class ClientList;
class Pairing;
class ReaderStorage;
class Updater;

// The endpoints of the daemon's socket, each answered from the state behind
// it: "/pairing", "/clients", "/clients/<id>", "/update", "/update/check"
// and "/update/restart". While the reader's storage is away, those that need
// the paired devices or the update state are answered 503 (GET "/pairing",
// the add-on's sign of life, still answers).
class DaemonApi {
public:
    // ON_RESTART runs once the reply to an accepted restart has left.
    DaemonApi(Pairing &pairing, ClientList &clients, Updater &updater, const ReaderStorage &storage,
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
    const ReaderStorage &storage;
    std::function<void()> onRestart;
};

} // namespace zorvid
