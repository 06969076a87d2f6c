#include "phoneserver.h"

#include "pairing.h"
#include "readerstorage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zorvid {

namespace {

// The form a browser shows; its script copies the code from the address's
// fragment, which the QR symbol carries.
const char pairPage[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width">
<title>Pair with the e-reader</title></head>
<body><h1>Pair with the e-reader</h1>
<form method="post" action="/pair">
<p><label>Code <input name="code" id="code" autocomplete="off" required></label></p>
<p><label>This device's name <input name="name" required></label></p>
<p><button type="submit">Pair</button></p>
</form>
<script>if (location.hash.length > 1) document.getElementById("code").value = decodeURIComponent(location.hash.slice(1));</script>
</body></html>
)";

// "code=ABC234&name=Anna%27s+phone" into its decoded fields.
QJsonObject formFields(const QByteArray &body)
{
    QJsonObject fields;
    for (const QByteArray &pair : body.split('&')) {
        const int equals = pair.indexOf('=');
        if (equals <= 0)
            continue;
        QByteArray value = pair.mid(equals + 1);
        value.replace('+', ' ');
        fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(pair.left(equals))),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return fields;
}

} // namespace

PhoneServer::PhoneServer(Pairing &pairing, const ReaderStorage &storage, int capacity,
                         const ConnectionLimits &limits, QObject *parent)
    : QObject(parent)
    , pairing(pairing)
    , storage(storage)
    , listener(QStringLiteral("the pairing port"), QStringLiteral("phone "), capacity, limits,
               [this](const HttpRequest &request) { return handle(request); })
{
}

bool PhoneServer::listen(const Addresses &wanted, quint16 wantedPort, QString *error)
{
    addresses = wanted;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(wantedPort);
    if (::inet_pton(AF_INET, addresses.listen.toLatin1().constData(), &address.sin_addr) != 1) {
        *error = QStringLiteral("%1 is not an IPv4 address").arg(addresses.listen);
        return false;
    }
    const QString where = QStringLiteral("%1:%2").arg(addresses.listen).arg(wantedPort);
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int reuse = 1;
    socklen_t length = sizeof address;
    if (descriptor < 0 ||
        ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
        ::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(descriptor, SOMAXCONN) != 0 ||
        ::getsockname(descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        *error = QStringLiteral("cannot listen on %1: %2")
                     .arg(where, QString::fromLocal8Bit(std::strerror(errno)));
        if (descriptor >= 0)
            ::close(descriptor);
        return false;
    }
    port = ntohs(address.sin_port);
    listener.start(descriptor);
    return true;
}

QString PhoneServer::address() const
{
    QString host = addresses.announced;
    if (host.isEmpty() && addresses.listen != QLatin1String("0.0.0.0"))
        host = addresses.listen;
    const QNetworkInterface wifi = QNetworkInterface::interfaceFromName(addresses.wifiInterface);
    for (const QNetworkAddressEntry &entry : wifi.addressEntries()) {
        const QHostAddress ip = entry.ip();
        if (host.isEmpty() && ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
            host = ip.toString();
    }
    if (host.isEmpty())
        host = QStringLiteral("127.0.0.1");
    return QStringLiteral("http://%1:%2/pair").arg(host).arg(port);
}

HttpReply PhoneServer::handle(const HttpRequest &request)
{
    if (request.path != "/pair")
        return HttpReply::error(404, "no such page");
    if (request.method == "GET") {
        HttpReply page;
        page.status = 200;
        page.contentType = "text/html; charset=utf-8";
        page.body = pairPage;
        return page;
    }
    if (request.method == "POST")
        return submit(request);
    return HttpReply::methodNotAllowed("GET, POST");
}

HttpReply PhoneServer::submit(const HttpRequest &request)
{
    if (!storage.isReady())
        return HttpReply::error(503, "the reader's storage is not available");
    const QByteArray type = request.header("content-type").split(';').first().trimmed().toLower();
    QJsonObject fields;
    if (type == "application/json") {
        const QJsonDocument document = QJsonDocument::fromJson(request.body);
        if (!document.isObject())
            return HttpReply::error(400, "the body is not a JSON object");
        fields = document.object();
    } else if (type == "application/x-www-form-urlencoded" || type.isEmpty()) {
        fields = formFields(request.body);
    } else {
        return HttpReply::error(415, "send a form or a JSON object");
    }
    const QJsonValue code = fields.value(QLatin1String("code"));
    const QJsonValue name = fields.value(QLatin1String("name"));
    if (!code.isString() || !name.isString())
        return HttpReply::error(400, "code and name are required");

    const Pairing::Submission submission = pairing.submit(code.toString(), name.toString());
    switch (submission.outcome) {
    case Pairing::Outcome::Paired: {
        HttpReply reply = HttpReply::json(200, QJsonObject{{"state", QStringLiteral("paired")},
                                                           {"id", submission.client.id},
                                                           {"name", submission.client.name}});
        // The browser keeps the token for as long as the reader keeps the
        // device; scripts cannot read it, and no other site can send it.
        reply.headers.append(
            qMakePair(QByteArray("Set-Cookie"),
                      "zorvi_device=" + submission.token +
                          "; Path=/; Max-Age=315360000; HttpOnly; SameSite=Strict"));
        reply.note = "paired";
        return reply;
    }
    case Pairing::Outcome::WrongCode:
    case Pairing::Outcome::Withdrawn: {
        const bool withdrawn = submission.outcome == Pairing::Outcome::Withdrawn;
        const QByteArray reason = withdrawn ? "wrong code, offer withdrawn" : "wrong code";
        HttpReply reply =
            HttpReply::json(403, QJsonObject{{"error", QString::fromLatin1(reason)},
                                             {"attempts_left", submission.attemptsLeft}});
        reply.note = reason;
        return reply;
    }
    case Pairing::Outcome::NoOffer: {
        HttpReply reply = HttpReply::json(
            410, QJsonObject{{"error", QStringLiteral("no pairing offer is waiting")},
                             {"state", pairing.state()}});
        reply.note = "no offer waiting (" + pairing.state().toLatin1() + ')';
        return reply;
    }
    case Pairing::Outcome::NameMissing:
        return HttpReply::error(400, "the name is empty");
    case Pairing::Outcome::NotSaved:
        return HttpReply::error(500, "the client list could not be saved");
    }
    return HttpReply::error(500, "unknown outcome");
}

} // namespace zorvid
