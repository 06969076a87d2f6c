#pragma once

#include "http/listener.h"
#include "library/librarythread.h"
#include "web/ordercache.h"

#include <QHash>
#include <QObject>

namespace zorvid {

struct Book;
class BookFiles;
class Highlights;
class ClientList;
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
//   GET  /highlights?id=CONTENT_ID
//                    the page of a book's highlights and notes
//   GET  /highlights.md[?id=CONTENT_ID], /highlights.csv[?id=CONTENT_ID]
//                    their export, as a file named after the book; without
//                    an id, those of every book
// Without a valid token, / and /highlights lead to the pairing page and
// everything else of the library is 404; with one, the request marks the
// phone as active (ACTIVITY). HEAD is answered wherever GET is; a Host that
// is not an IPv4 address gets 421. Its connections are a Listener's.
class PhoneServer : public QObject {
public:
    // LIBRARY and HIGHLIGHTS are read on a thread of the server's own.
    PhoneServer(Pairing &pairing, ClientList &clients, std::unique_ptr<Library> library,
                std::unique_ptr<Highlights> highlights, const BookFiles &files,
                const ReaderStorage &storage, PhoneActivity &activity, int capacity,
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
    HttpReply bookHighlights(const HttpRequest &request, const PageLanguage &language);
    HttpReply highlightsExport(const HttpRequest &request, const PageLanguage &language, bool csv);
    // A reply that JOB makes on the library's thread.
    HttpReply onLibraryThread(LibraryThread::Job job);

    // On the library's thread only, called by the jobs:
    // How many highlights each book of the library has, counted again only
    // when the database has changed; false when they cannot be counted.
    bool countHighlights(const Library &library);
    // The book with the CONTENT_ID a request names; null, with REFUSAL set,
    // when there is none or the library cannot be read.
    static const Book *requestedBook(Library &library, const QString &contentId,
                                     HttpReply *refusal);

    Pairing &pairing;
    ClientList &clients;
    // On the library's thread only.
    OrderCache orders;
    std::unique_ptr<Highlights> highlights;
    QHash<QString, int> highlightCounts;
    quint64 countedReading = 0;
    const BookFiles &files;
    const ReaderStorage &storage;
    PhoneActivity &activity;
    Listener listener;
    Addresses addresses;
    quint16 port = 0;
    // Last, so that it ends first: its jobs use what the server holds.
    LibraryThread library;
};

} // namespace zorvid
