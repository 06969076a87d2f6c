// endpoints/: the daemon's two ways in: the add-on's socket and the phone's port.

#include "endpoints/daemonapi.h"

#include "http/jsonobject.h"
#include "pairing/pairing.h"
#include "process/daemonlog.h"
#include "state/clientlist.h"
#include "state/readerstorage.h"
#include "updates/updater.h"

#include <QJsonObject>

namespace zorvid {

namespace {

const QByteArray clientPrefix = "/clients/";

} // namespace

DaemonApi::DaemonApi(Pairing &pairing, ClientList &clients, Updater &updater,
                     const ReaderStorage &storage, std::function<void()> onRestart)
    : pairing(pairing)
    , clients(clients)
    , updater(updater)
    , storage(storage)
    , onRestart(std::move(onRestart))
{
}

HttpReply DaemonApi::handle(const HttpRequest &request)
{
    const QByteArray &method = request.method;
    const QByteArray &path = request.path;
    const bool needsState = path == "/clients" || path.startsWith(clientPrefix) ||
                            path == "/update" || path.startsWith("/update/") ||
                            (path == "/pairing" && method == "POST");
    if (needsState && !storage.isReady())
        return HttpReply::error(503, "the reader's storage is not available");
    if (path == "/pairing")
        return pairingEndpoint(method);
    if (path == "/clients") {
        if (method != "GET")
            return HttpReply::methodNotAllowed("GET");
        return HttpReply::json(200, clients.toJson());
    }
    if (path.startsWith(clientPrefix))
        return clientEndpoint(method, path.mid(clientPrefix.size()));
    if (path == "/update") {
        if (method != "GET")
            return HttpReply::methodNotAllowed("GET");
        return HttpReply::json(200, updater.status());
    }
    if (path == "/update/check") {
        if (method != "POST")
            return HttpReply::methodNotAllowed("POST");
        return checkEndpoint();
    }
    if (path == "/update/restart") {
        if (method != "POST")
            return HttpReply::methodNotAllowed("POST");
        return restartEndpoint();
    }
    return HttpReply::error(404, "no such endpoint");
}

HttpReply DaemonApi::pairingEndpoint(const QByteArray &method)
{
    if (method == "POST") {
        const QJsonObject offer = pairing.offer();
        if (offer.isEmpty())
            return HttpReply::error(503, "the reader has no address on its network yet");
        return HttpReply::json(200, offer);
    }
    if (method == "GET")
        return HttpReply::json(200, pairing.status());
    if (method == "DELETE") {
        pairing.withdraw();
        return HttpReply::empty(204);
    }
    return HttpReply::methodNotAllowed("GET, POST, DELETE");
}

HttpReply DaemonApi::clientEndpoint(const QByteArray &method, const QByteArray &encodedId)
{
    if (method != "DELETE")
        return HttpReply::methodNotAllowed("DELETE");
    // The id is decoded only after the path has been split, so an encoded
    // "/" belongs to the id and never adds a path segment.
    const QString id = QString::fromUtf8(QByteArray::fromPercentEncoding(encodedId));
    switch (clients.remove(id)) {
    case ClientList::Removal::Removed: {
        HttpReply reply = HttpReply::empty(204);
        reply.note = "removed " + printable(id.toUtf8(), 60).toUtf8();
        return reply;
    }
    case ClientList::Removal::NotFound:
        return HttpReply::error(404, "no such client");
    case ClientList::Removal::NotSaved:
        return HttpReply::error(500, "the client list could not be saved");
    }
    return HttpReply::error(500, "unknown outcome");
}

HttpReply DaemonApi::checkEndpoint()
{
    QString refusal;
    if (!updater.check(&refusal))
        return HttpReply::error(409, refusal.toUtf8());
    return HttpReply::json(202, updater.status());
}

HttpReply DaemonApi::restartEndpoint()
{
    switch (updater.install()) {
    case Updater::Installation::Restarting: {
        HttpReply reply =
            HttpReply::json(202, jsonObject({{"state", QStringLiteral("restarting")}}));
        reply.note = "restarting to install an update";
        reply.afterSent = onRestart;
        return reply;
    }
    case Updater::Installation::NothingReady:
        return HttpReply::error(409, "no update is ready to install");
    case Updater::Installation::SlotLost:
        return HttpReply::error(409, "the staged update is gone");
    }
    return HttpReply::error(500, "unknown outcome");
}

} // namespace zorvid
