#include "endpoints/phoneserver.h"

#include "endpoints/phoneactivity.h"
#include "http/jsonobject.h"
#include "library/highlights.h"
#include "library/librarythread.h"
#include "pairing/pairing.h"
#include "state/clientlist.h"
#include "state/readerstorage.h"
#include "web/bookfiles.h"
#include "web/byterange.h"
#include "web/formfields.h"
#include "web/highlightsexport.h"
#include "web/highlightspage.h"
#include "web/librarypage.h"
#include "web/libraryquery.h"
#include "web/ordercache.h"
#include "web/pagelanguage.h"
#include "web/pairpage.h"
#include "web/webpage.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QSet>
#include <QUrl>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zorvid {

namespace {

// The device token that the browser sends back, from its Cookie field.
QByteArray deviceToken(const HttpRequest &request)
{
    for (const QByteArray &cookie : request.header("cookie").split(';')) {
        const QByteArray trimmed = cookie.trimmed();
        if (trimmed.startsWith("zorvi_device="))
            return trimmed.mid(13);
    }
    return QByteArray();
}

// Whether a Host field names the reader by an IPv4 address, as every address
// zorvid hands out does (or it is missing: a client that is no browser).
bool isAddressHost(const QByteArray &host)
{
    if (host.isEmpty())
        return true;
    const int colon = host.lastIndexOf(':');
    const QByteArray name = colon < 0 ? host : host.left(colon);
    in_addr address{};
    return name == "localhost" || ::inet_pton(AF_INET, name.constData(), &address) == 1;
}

HttpReply redirect(const QByteArray &location)
{
    HttpReply reply = HttpReply::empty(303);
    reply.headers.append(qMakePair(QByteArray("Location"), location));
    addBrowserHeaders(&reply);
    return reply;
}

// "attachment" with the file's name, as ASCII for old browsers and as
// UTF-8 for the others.
QByteArray attachment(const QString &name)
{
    QByteArray ascii;
    for (const QChar c : name)
        ascii += c.unicode() >= 0x20 && c.unicode() < 0x7f && c != '"' && c != '\\'
                     ? char(c.unicode())
                     : '_';
    return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" +
           QUrl::toPercentEncoding(name);
}

// The type of an image by its first bytes; empty for anything else, which
// is not served as an image.
QByteArray imageType(QFile &file)
{
    const QByteArray start = file.peek(8);
    if (start.startsWith("\xff\xd8\xff"))
        return "image/jpeg";
    if (start.startsWith("\x89PNG\r\n\x1a\n"))
        return "image/png";
    if (start.startsWith("GIF8"))
        return "image/gif";
    return QByteArray();
}

// A cover's image, whole; 404 for anything that is not one.
HttpReply coverReply(const QString &path)
{
    if (path.isEmpty())
        return HttpReply::error(404, "no cover");
    auto file = std::make_shared<QFile>(path);
    // It was there a moment ago: out of descriptors, say.
    if (!file->open(QIODevice::ReadOnly))
        return HttpReply::error(503, "the file cannot be opened now");
    HttpReply reply;
    reply.contentType = imageType(*file);
    if (reply.contentType.isEmpty())
        return HttpReply::error(404, "the cover is no image");
    reply.file = file;
    reply.status = 200;
    reply.fileLength = file->size();
    reply.headers.append(
        qMakePair(QByteArray("Cache-Control"), QByteArray("private, max-age=3600")));
    addBrowserHeaders(&reply);
    return reply;
}

// A book's file at PATH, of Nickel's MIME_TYPE: whole, or the RANGE asked
// for while IF_RANGE (when sent) names the file as it is.
HttpReply bookReply(const QString &path, const QString &mimeType, const QByteArray &ifRange,
                    const QByteArray &range)
{
    if (path.isEmpty())
        return HttpReply::error(404, "no file");
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return HttpReply::error(503, "the file cannot be opened now");
    HttpReply reply;
    reply.file = file;
    const qint64 size = file->size();
    // The same file answers to the same tag, so a phone resumes a download
    // only while the file is unchanged.
    const QFileInfo info(path);
    const QByteArray tag = '"' + QByteArray::number(size, 16) + '-' +
                           QByteArray::number(info.lastModified().toMSecsSinceEpoch(), 16) + '"';
    const ByteRange part =
        ByteRange::parse(ifRange.isEmpty() || ifRange == tag ? range : QByteArray(), size);
    // The types of books as Nickel names them; anything else (a page, a
    // script, an image that is a document) goes out as plain bytes, which no
    // browser runs or shows in place.
    static const QByteArray bookTypes[] = {"application/epub+zip", "application/x-kobo-epub+zip",
                                           "application/pdf",      "application/x-cbz",
                                           "application/x-cbr",    "application/x-mobipocket-ebook",
                                           "application/rtf",      "text/plain"};
    const QByteArray type = mimeType.toLatin1();
    reply.contentType =
        std::find(std::begin(bookTypes), std::end(bookTypes), type) != std::end(bookTypes)
            ? type
            : "application/octet-stream";
    switch (part.kind) {
    case ByteRange::Kind::Unsatisfiable: {
        HttpReply refusal = HttpReply::error(416, "range not satisfiable");
        refusal.headers.append(
            qMakePair(QByteArray("Content-Range"), "bytes */" + QByteArray::number(size)));
        return refusal;
    }
    case ByteRange::Kind::Part:
        reply.status = 206;
        reply.headers.append(qMakePair(QByteArray("Content-Range"),
                                       "bytes " + QByteArray::number(part.offset) + '-' +
                                           QByteArray::number(part.offset + part.length - 1) + '/' +
                                           QByteArray::number(size)));
        break;
    case ByteRange::Kind::Whole:
        reply.status = 200;
        break;
    }
    reply.fileOffset = part.offset;
    reply.fileLength = part.length;
    reply.headers.append(qMakePair(QByteArray("Accept-Ranges"), QByteArray("bytes")));
    reply.headers.append(qMakePair(QByteArray("ETag"), tag));
    reply.headers.append(qMakePair(QByteArray("Content-Disposition"), attachment(info.fileName())));
    reply.headers.append(qMakePair(QByteArray("Cache-Control"), QByteArray("private, no-cache")));
    addBrowserHeaders(&reply);
    return reply;
}

} // namespace

PhoneServer::PhoneServer(Pairing &pairing, ClientList &clients, std::unique_ptr<Library> library,
                         std::unique_ptr<Highlights> highlights, const BookFiles &files,
                         const ReaderStorage &storage, PhoneActivity &activity, int capacity,
                         const ConnectionLimits &limits, QObject *parent)
    : QObject(parent)
    , pairing(pairing)
    , clients(clients)
    , highlights(std::move(highlights))
    , files(files)
    , storage(storage)
    , activity(activity)
    , listener(QStringLiteral("the pairing port"), QStringLiteral("phone "), capacity, limits,
               [this](const HttpRequest &request) { return handle(request); })
    , library(std::move(library))
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
        return QString();
    return QStringLiteral("http://%1:%2/pair").arg(host).arg(port);
}

HttpReply PhoneServer::handle(const HttpRequest &request)
{
    // A browser names the reader by its address. Any other name would be a
    // site of somebody else's that now points at the reader (DNS rebinding),
    // using the owner's browser to reach it.
    if (!isAddressHost(request.header("host")))
        return HttpReply::error(421, "not asked for by the reader's address");
    HttpReply reply = route(request);
    if (request.method != "HEAD")
        return reply;
    reply.headOnly = true;
    if (const auto later = reply.later) {
        reply.later = [later](const HttpReply::Send &send) {
            later([send](HttpReply made) {
                made.headOnly = true;
                send(made);
            });
        };
    }
    return reply;
}

HttpReply PhoneServer::route(const HttpRequest &request)
{
    const QByteArray &path = request.path;
    // HEAD is GET without the body: download managers ask it first.
    const bool get = request.method == "GET" || request.method == "HEAD";
    if (path == "/style.css" || path == "/pair.js" || path == "/icon.svg")
        return get ? assetReply(path.mid(1)) : HttpReply::methodNotAllowed("GET, HEAD");
    const PageLanguage language =
        PageLanguage::fromAcceptLanguage(request.header("accept-language"));
    if (path == "/pair") {
        if (get)
            return pairPage(200, language, QString(), deviceNameFor(request.header("user-agent")));
        if (request.method == "POST")
            return submit(request, language);
        return HttpReply::methodNotAllowed("GET, HEAD, POST");
    }
    const bool page = path == "/" || path == "/highlights";
    const bool exported = path == "/highlights.md" || path == "/highlights.csv";
    if (!page && !exported && path != "/download" && path != "/cover")
        return HttpReply::error(404, "no such page");
    if (!get)
        return HttpReply::methodNotAllowed("GET, HEAD");
    if (!storage.isReady()) {
        return page ? libraryPage({}, LibraryQuery(), files, language, language.text("storageAway"))
                    : HttpReply::error(503, "the reader's storage is not available");
    }
    // Nothing of the library without a token of a device still paired.
    const PairedClient *client = clients.clientWithToken(deviceToken(request));
    if (!client)
        return page ? redirect("/pair") : HttpReply::error(404, "no such page");
    clients.noteUse(client->id);
    // Only now: a stranger's requests must not keep the reader's Wi-Fi on.
    activity.mark();
    if (path == "/")
        return dashboard(request, language);
    if (path == "/highlights")
        return bookHighlights(request, language);
    if (exported)
        return highlightsExport(request, language, path.endsWith(".csv"));
    return bookFile(request, path == "/cover");
}

HttpReply PhoneServer::onLibraryThread(LibraryThread::Job job)
{
    HttpReply reply;
    LibraryThread *const thread = &library;
    reply.later = [thread, job](const HttpReply::Send &send) {
        thread->run(job, send);
    };
    return reply;
}

HttpReply PhoneServer::dashboard(const HttpRequest &request, const PageLanguage &language)
{
    const LibraryQuery query = LibraryQuery::fromUrlQuery(request.query());
    return onLibraryThread([this, query, language](Library &library) {
        QString message;
        if (!library.refresh())
            message = language.text("libraryUnavailable");
        orders.follow(library.reading());
        // Without them, the books are shown all the same.
        const bool counted = countHighlights(library);
        HttpReply reply =
            libraryPage(library.books(), query, files, language, message, highlightCounts, &orders);
        // Reading and sorting a large library takes memory for a moment; it
        // goes back to the reader rather than staying with the daemon.
        malloc_trim(0);
        if (!message.isEmpty())
            reply.note = "library not read: " + library.error().toUtf8();
        else if (!counted)
            reply.note = "highlights not counted: " + highlights->error().toUtf8();
        return reply;
    });
}

HttpReply PhoneServer::bookFile(const HttpRequest &request, bool cover)
{
    const QString id = formFields(request.query()).value(QLatin1String("id")).toString();
    const QByteArray ifRange = request.header("if-range");
    const QByteArray range = request.header("range");
    return onLibraryThread([this, id, ifRange, range, cover](Library &library) {
        HttpReply refusal;
        const Book *book = requestedBook(library, id, &refusal);
        if (!book)
            return refusal;
        if (!book->onReader)
            return HttpReply::error(404, "no such book");
        return cover ? coverReply(files.coverFile(book->imageId))
                     : bookReply(files.bookFile(book->contentId), book->mimeType, ifRange, range);
    });
}

HttpReply PhoneServer::bookHighlights(const HttpRequest &request, const PageLanguage &language)
{
    const QString id = formFields(request.query()).value(QLatin1String("id")).toString();
    return onLibraryThread([this, id, language](Library &library) {
        HttpReply refusal;
        const Book *book = requestedBook(library, id, &refusal);
        if (!book)
            return refusal;
        HighlightList list;
        const bool read = highlights->read(book->contentId, &list);
        HttpReply reply = highlightsPage(*book, list, language,
                                         read ? QString() : language.text("notesUnavailable"));
        if (!read)
            reply.note = "highlights not read: " + highlights->error().toUtf8();
        malloc_trim(0);
        return reply;
    });
}

HttpReply PhoneServer::highlightsExport(const HttpRequest &request, const PageLanguage &language,
                                        bool csv)
{
    // Without an id, the highlights of every book, in a file named for them
    // all; with one, those of that book, in a file named after it.
    const QJsonObject fields = formFields(request.query());
    const bool all = !fields.contains(QLatin1String("id"));
    const QString id = fields.value(QLatin1String("id")).toString();
    return onLibraryThread([this, all, id, language, csv](Library &library) {
        QVector<Book> books;
        QString name = language.text("notesTitle");
        if (all) {
            library.refresh();
            books = library.books();
        } else {
            HttpReply refusal;
            const Book *book = requestedBook(library, id, &refusal);
            if (!book)
                return refusal;
            books.append(*book);
            name = book->title.isEmpty() ? language.text("untitled") : book->title;
        }
        HighlightList list;
        if (!highlights->read(all ? QString() : books.first().contentId, &list)) {
            HttpReply refusal = HttpReply::error(503, "the highlights cannot be read");
            refusal.note += ": " + highlights->error().toUtf8();
            return refusal;
        }
        HttpReply reply;
        reply.status = 200;
        reply.contentType = csv ? "text/csv; charset=utf-8" : "text/markdown; charset=utf-8";
        reply.body = csv ? highlightsCsv(list, books) : highlightsMarkdown(list, books, language);
        const QString file =
            exportFileName(name, language.text("notesTitle"), QLatin1String(csv ? "csv" : "md"));
        reply.headers.append(qMakePair(QByteArray("Content-Disposition"), attachment(file)));
        reply.headers.append(qMakePair(QByteArray("Cache-Control"), QByteArray("no-store")));
        addBrowserHeaders(&reply);
        malloc_trim(0);
        return reply;
    });
}

bool PhoneServer::countHighlights(const Library &library)
{
    if (countedReading == library.reading())
        return true;
    QHash<QString, int> counts;
    if (!highlights->count(&counts))
        return false;
    // Only the library's books are kept between pages.
    QSet<QString> ids;
    for (const Book &book : library.books())
        ids.insert(book.contentId);
    highlightCounts.clear();
    for (auto count = counts.cbegin(); count != counts.cend(); ++count) {
        if (ids.contains(count.key()))
            highlightCounts.insert(count.key(), count.value());
    }
    countedReading = library.reading();
    return true;
}

const Book *PhoneServer::requestedBook(Library &library, const QString &contentId,
                                       HttpReply *refusal)
{
    // The books already read answer, so that a page's covers do not each
    // read the database again.
    const Book *book = contentId.isEmpty() ? nullptr : library.book(contentId);
    if (!book && library.books().isEmpty() && !library.error().isEmpty())
        *refusal = HttpReply::error(503, "the library cannot be read");
    else if (!book)
        *refusal = HttpReply::error(404, "no such book");
    return book;
}

HttpReply PhoneServer::submit(const HttpRequest &request, const PageLanguage &language)
{
    // A form that a browser sends gets pages back; other clients get JSON.
    const bool browser = request.header("accept").contains("text/html");
    // A page of another site cannot pair the owner's browser behind its back.
    const QByteArray origin = request.header("origin");
    if (!origin.isEmpty() && origin != "http://" + request.header("host"))
        return HttpReply::error(403, "a form of another site");

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

    // The page again with what was typed and a message, or a JSON refusal.
    const auto refusal = [&](int status, const char *text, const QByteArray &reason,
                             bool keepCode) {
        if (!browser)
            return HttpReply::error(status, reason);
        HttpReply page = pairPage(status, language, keepCode ? code.toString() : QString(),
                                  name.toString(), language.text(text));
        page.note = reason;
        return page;
    };
    if (!storage.isReady())
        return refusal(503, "storageAway", "the reader's storage is not available", true);
    if (!code.isString() || !name.isString())
        return refusal(400, code.toString().isEmpty() ? "codeMissing" : "nameMissing",
                       "code and name are required", true);
    // An empty code is no guess, and costs no attempt.
    if (browser && code.toString().trimmed().isEmpty())
        return refusal(400, "codeMissing", "the code is empty", false);

    const Pairing::Submission submission =
        pairing.submit(code.toString(), name.toString(), request.peer);
    switch (submission.outcome) {
    case Pairing::Outcome::Paired: {
        HttpReply reply =
            browser ? redirect("/")
                    : HttpReply::json(200, jsonObject({{"state", QStringLiteral("paired")},
                                                       {"id", submission.client.id},
                                                       {"name", submission.client.name}}));
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
        const QByteArray reason = !withdrawn                               ? "wrong code"
                                  : pairing.state() == "too_many_attempts" ? "offer withdrawn"
                                                                           : "no attempts left";
        if (browser)
            return refusal(403, withdrawn ? "codeWithdrawn" : "wrongCode", reason, false);
        HttpReply reply =
            HttpReply::json(403, jsonObject({{"error", QString::fromLatin1(reason)},
                                             {"attempts_left", submission.attemptsLeft}}));
        reply.note = reason;
        return reply;
    }
    case Pairing::Outcome::NoOffer: {
        const QByteArray reason = "no offer waiting (" + pairing.state().toLatin1() + ')';
        if (browser)
            return refusal(410, "noOffer", reason, false);
        HttpReply reply = HttpReply::json(
            410, jsonObject({{"error", QStringLiteral("no pairing offer is waiting")},
                             {"state", pairing.state()}}));
        reply.note = reason;
        return reply;
    }
    case Pairing::Outcome::NameMissing:
        return refusal(400, "nameMissing", "the name is empty", true);
    case Pairing::Outcome::NotSaved:
        return refusal(500, "notSaved", "the client list could not be saved", true);
    }
    return HttpReply::error(500, "unknown outcome");
}

} // namespace zorvid
