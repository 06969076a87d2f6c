#pragma once

#include "listener.h"

#include <QObject>

namespace zorvid {

class Pairing;
class ReaderStorage;

// The other device's way in: a small HTTP endpoint on the reader's network
// addresses. GET /pair serves a form; POST /pair takes "code" and "name",
// as a form (application/x-www-form-urlencoded) or as a JSON object, and
// answers in JSON: 200 {"state":"paired","id","name"} with the device's
// token in the cookie "zorvi_device", 403 {"error",
// "attempts_left"} for a wrong code, 410 {"error","state"} when no offer
// waits, 400 for a missing field, 503 while the reader's storage is away.
// Its connections are a Listener's.
class PhoneServer : public QObject {
public:
    PhoneServer(Pairing &pairing, const ReaderStorage &storage, int capacity,
                const ConnectionLimits &limits, QObject *parent = nullptr);

    struct Addresses {
        // Where it listens: an IPv4 address, 0.0.0.0 for all of them.
        QString listen = QStringLiteral("0.0.0.0");
        // The host that the pairing offer names; empty: the address it listens
        // on, or when that is all of them, the first IPv4 address of the Wi-Fi
        // interface, which a phone on the same network can reach (loopback
        // while it has none).
        QString announced;
        QString wifiInterface = QStringLiteral("wlan0");
    };

    // Port 0 takes any free port; address() then names the one taken.
    bool listen(const Addresses &addresses, quint16 port, QString *error);
    // "http://HOST:PORT/pair", HOST as it is now: the Wi-Fi network may come
    // and go while the daemon runs.
    QString address() const;

private:
    HttpReply handle(const HttpRequest &request);
    HttpReply submit(const HttpRequest &request);

    Pairing &pairing;
    const ReaderStorage &storage;
    Listener listener;
    Addresses addresses;
    quint16 port = 0;
};

} // namespace zorvid
