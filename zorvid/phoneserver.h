#pragma once

#include "listener.h"

#include <QObject>

namespace zorvid {

class Pairing;
class ReaderStorage;

// The other device's way in: a small HTTP endpoint on the loopback
// interface. GET /pair serves a form; POST /pair takes "code" and "name",
// as a form (application/x-www-form-urlencoded) or as a JSON object, and
// answers in JSON: 200 {"state":"paired","id","name"}, 403 {"error",
// "attempts_left"} for a wrong code, 410 {"error","state"} when no offer
// waits, 400 for a missing field, 503 while the reader's storage is away.
// Its connections are a Listener's.
class PhoneServer : public QObject {
public:
    PhoneServer(Pairing &pairing, const ReaderStorage &storage, int capacity,
                const ConnectionLimits &limits, QObject *parent = nullptr);

    // Port 0 takes any free port; address() then holds the one taken.
    bool listen(quint16 port, QString *error);
    // "http://127.0.0.1:PORT/pair".
    QString address() const;

private:
    HttpReply handle(const HttpRequest &request);
    HttpReply submit(const HttpRequest &request);

    Pairing &pairing;
    const ReaderStorage &storage;
    Listener listener;
    quint16 port = 0;
};

} // namespace zorvid
