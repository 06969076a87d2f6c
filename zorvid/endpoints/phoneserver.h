#pragma once

#include "http/listener.h"

#include <QObject>

namespace zorvid {

class BookFiles;
class ClientList;
class Library;
class Pairing;
class PageLanguage;
class PhoneActivity;
class ReaderStorage;

// The other device's way in, on the reader's network addresses: the
// pairing page, and for a paired browser the dashboard of the library.
//   GET  /pair       the pairing page, in the browser's language
//   POST /pair       "code" and "name", as a form or a JSON object. A
//                    browser's form gets pages: on success a redirect to the
//                    dashboard, with the device's token in the cookie
//                    "zorvi_device". Other clients get JSON: 200
//                    {"state":"paired","id","name"} (and the cookie), 403
//                    {"error","attempts_left"} for a wrong code, 410
//                    {"error","state"} when no offer waits, 400 for a missing
//                    field, 503 while the reader's storage is away.
//   GET  /           the dashboard (?q=, sort=recent|title|author, page=)
//   GET  /download?id=CONTENT_ID, /cover?id=CONTENT_ID
//                    a book's file (ranges too) and its cover
// Without a valid token, / leads to the pairing page and everything else of
// the library is 404; with one, the request marks the phone as active. HEAD is answered wherever
// GET is; a Host that is not an IPv4 address gets 421. Its connections are a Listener's.
class PhoneServer : public QObject {
public:
    PhoneServer(Pairing &pairing, const ClientList &clients, Library &library,
                const BookFiles &files, const ReaderStorage &storage, PhoneActivity &activity,
                int capacity, const ConnectionLimits &limits, QObject *parent = nullptr);

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
    // Empty while the Wi-Fi interface has no IPv4 address (it has just come
    // up, or is gone): no phone could reach any address named then.
    QString address() const;
    quint16 listeningPort() const { return port; }

private:
    HttpReply handle(const HttpRequest &request);
    HttpReply route(const HttpRequest &request);
    HttpReply submit(const HttpRequest &request, const PageLanguage &language);
    HttpReply dashboard(const HttpRequest &request, const PageLanguage &language);
    // A book's file or its cover, streamed from the storage.
    HttpReply bookFile(const HttpRequest &request, bool cover);

    Pairing &pairing;
    const ClientList &clients;
    Library &library;
    const BookFiles &files;
    const ReaderStorage &storage;
    PhoneActivity &activity;
    Listener listener;
    Addresses addresses;
    quint16 port = 0;
};

} // namespace zorvid
