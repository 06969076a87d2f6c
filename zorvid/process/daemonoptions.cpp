#include "process/daemonoptions.h"

#include "updates/feedtrust.h"
#include "updates/versions.h"

#include <QCommandLineParser>

#include <cstdio>

namespace zorvid {

namespace {

const char details[] = R"(
zorvid is the reference companion daemon of the Zorvi add-on. It runs in the
foreground, listens on the local socket /tmp/zorvid.sock and answers each
request with one HTTP/1.1 reply (JSON where there is a body), then closes the
connection. It logs one line per request to standard error.

Endpoints on /tmp/zorvid.sock:
  POST   /pairing         a new pairing offer (replaces the one before): 200
                          {"state":"waiting","code","url","expires_in","qr"}
  GET    /pairing         {"state":"none"|"waiting"|"paired"|"expired"|
                          "cancelled"|"too_many_attempts"}, with "name" and
                          "id" once paired
  DELETE /pairing         withdraws a waiting offer: 204
  GET    /clients         [{"id","name","paired_at"}]
  DELETE /clients/ID      ID percent-encoded: 204, or 404 for an unknown id
  GET    /update          {"state","version","last","current","progress"}
                          ("current" is this zorvid's version)
  POST   /update/check    202 when a check starts, 409 while busy or ready
  POST   /update/restart  202 when an update is ready (see below), else 409
Bad requests get 400, unknown paths 404, wrong methods 405, a request line
and header fields over 8 KiB or a body over 8 KiB 413, a request not complete
within --request-timeout 408. A reply may take as long as the client goes on
taking it (30 s without progress end it: a phone on a slow network still gets
the end of a book). After its reply a connection reads and drops what the
client still sends (at most 1 MiB, for 2 s) until the client closes.
Each listener holds at most 64 connections at once (fewer when the limit of
open files is low; zorvid raises it to its hard limit) and takes a quarter of
that per turn of its event loop. A new one over that drops an older one: one
that has had its reply and sends nothing more, else one that has sent
nothing, else one still sending after its reply, else the oldest waiting for
its request; one not answered gets 503 if it can take it.

The socket is readable and writable by zorvid's user alone. Only one zorvid
runs at a time: it holds a lock on /tmp/zorvid.lock, and a second one exits.

Pairing: the code is 6 characters from ABCDEFGHJKMNPQRSTUVWXYZ23456789. The
offer's "url" is http://HOST:PORT/pair#CODE, HOST an address a phone on the
reader's network can reach (see --pairing-host), and its QR symbol encodes
exactly that url. On that port (all IPv4 addresses unless --listen names one)
the other device's browser is served, in its language (Accept-Language):
  GET  /pair   the pairing page, whose script takes the code from the url's
               fragment
  POST /pair   code and name as a form or a JSON object; the device's token
               in the cookie zorvi_device (HttpOnly, SameSite=Strict). A
               browser's form (Accept: text/html) gets pages: a redirect to
               the dashboard, or the page again with the reason. Other clients
               get JSON: 200 paired, 403 wrong code (with "attempts_left"),
               410 no offer waiting. A form of another origin is refused.
  GET  /       the dashboard: the books on the reader, 24 to a page
               (?q=SEARCH&sort=recent|title|author&page=N)
  GET  /download?id=CONTENT_ID   a book's file, with ranges
  GET  /cover?id=CONTENT_ID      the cover Nickel rendered
HEAD is answered wherever GET is. A Host field that is not an IPv4 address
gets 421 (a name of somebody else's that points at the reader).
The dashboard and what it links need the token of a device still paired:
without one, / leads to /pair and the rest is 404. The library is read from
STORAGE/.kobo/KoboReader.sqlite, read-only; a book's file is served only if
the database names it as file:///mnt/onboard/... and it lies under STORAGE
(links resolved), outside hidden folders.
For example:
  curl -d code=ABC234 -d name=Phone http://127.0.0.1:8732/pair
  zorvid-phone --name Phone 'http://127.0.0.1:8732/pair#ABC234'
After --pairing-attempts wrong codes an address is refused, after six times
as many from all addresses the offer is withdrawn.

Names: a device's name is cleaned when it pairs (control, format and broken
characters, so direction overrides and zero-width characters, are dropped;
at most 64 characters). Its id is 16 hexadecimal digits; an id of an earlier
list that no request could name is replaced at start by one derived from it.

Files:
  STATE_DIR/clients.json  the paired devices, {"clients":[{"id","name",
                          "paired_at","token_sha256"}]} (the token's SHA-256
                          only), replaced atomically on every change;
                          a file that is not a client list is kept aside as
                          clients.json.unreadable-TIME
  STATE_DIR/update.json   {"installed": VERSION} once an update is installed
  --install-slot FILE     where a downloaded update waits for the restart
  /tmp/zorvi-update-ready exists exactly while an update is ready
  /tmp/zorvi-phone-active touched (every 30 s at most) by a paired device's
                          requests; the add-on keeps Wi-Fi on while it is
                          recent; removed when zorvid stops
A write that does not reach the storage (a full one, say) is answered 500 and
logged; the file before it stays whole. While a state folder under --storage
lies on a storage that is not mounted, nothing is read or written there:
GET /clients, the /update endpoints, POST /pairing and POST /pair are
answered 503 until it is mounted, and then the state is read from it.
A pairing code's minutes count the reader's sleep.

Updates: the feed is built in (see the README): the address of a signed
manifest on an https server, the Ed25519 key that must have signed it and
the certificate authorities its server's certificate must chain to. A check
fetches the manifest and verifies its signature, then compares its version
with this zorvid's: the same is "up_to_date"; an older one is refused as a
replayed manifest. A newer one is downloaded ("downloading", with
"progress") to STATE_DIR/update.download, checked against the manifest's
size and SHA-256, and renamed to the install slot, where the reader's
firmware unpacks it at its next start: "ready". A slot that holds a file
zorvid did not put there makes it "blocked". Whatever is refused (a bad or
missing signature, another key's, a size or hash that differs, a server
that redirects elsewhere, sends garbage or shows another certificate, a
storage without room) ends "failed" with a log line and leaves nothing on
the storage. A download that the network cuts (a dropped connection, or
silence longer than --update-wait) is tried again twice, then kept: the next
check goes on from there, for the same manifest. A check with its download
that takes longer than --update-limit is refused. A ready update stays ready across a restart of zorvid and
is forgotten once the running version has caught up with it.
POST /update/restart answers 202 while the update is in the slot and exits
with status 3: the reader is to restart and install it.

Signals and exit status: SIGTERM or SIGINT stop it cleanly (socket file
removed, state saved): status 0. A socket file left by a daemon that is gone
is replaced at start; another zorvid running, a state folder that cannot be
created or a port in use: status 1. Bad options: status 2. Restart
for an update: status 3.
)";

bool readNumber(const QCommandLineParser &parser, const QString &name, int low, int high,
                int *value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int number = parser.value(name).toInt(&ok);
    if (!ok || number < low || number > high) {
        std::fprintf(stderr, "zorvid: --%s wants a whole number from %d to %d\n", qPrintable(name),
                     low, high);
        return false;
    }
    *value = number;
    return true;
}

} // namespace

DaemonOptions::Outcome DaemonOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The Zorvi add-on's companion daemon."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    parser.addOption(help);
    const QCommandLineOption version(
        QStringLiteral("version"),
        QStringLiteral("Show the version and the update feed built in."));
    parser.addOption(version);
    // Name, description and the name of its value (none for a switch).
    const struct {
        QString name, description, valueName;
    } options[] = {
        {QStringLiteral("state-dir"),
         QStringLiteral("Folder of the client list (default %1).").arg(stateDir),
         QStringLiteral("DIR")},
        {QStringLiteral("storage"),
         QStringLiteral("Mount point of the reader's storage (default %1).").arg(storagePath),
         QStringLiteral("DIR")},
        {QStringLiteral("phone-port"),
         QStringLiteral("Port of the pairing endpoint; 0 takes a free one (default %1).")
             .arg(phonePort),
         QStringLiteral("PORT")},
        {QStringLiteral("listen"),
         QStringLiteral("IPv4 address the pairing endpoint listens on; 0.0.0.0 for all "
                        "(default %1).")
             .arg(listenAddress),
         QStringLiteral("ADDRESS")},
        {QStringLiteral("pairing-host"),
         QStringLiteral("Host that pairing offers name (default: the --listen address, or "
                        "with 0.0.0.0 the first IPv4 address of --wifi-interface; while it has "
                        "none, no offer is made)."),
         QStringLiteral("HOST")},
        {QStringLiteral("wifi-interface"),
         QStringLiteral("Network interface whose address phones reach (default %1).")
             .arg(wifiInterface),
         QStringLiteral("NAME")},
        {QStringLiteral("pairing-seconds"),
         QStringLiteral("How long a pairing code stays valid (default %1).").arg(pairingSeconds),
         QStringLiteral("SECONDS")},
        {QStringLiteral("pairing-attempts"),
         QStringLiteral("Wrong codes one address may send (default %1).").arg(pairingAttempts),
         QStringLiteral("COUNT")},
        {QStringLiteral("request-timeout"),
         QStringLiteral("Time a client has to send its request (default %1).")
             .arg(requestTimeoutMs),
         QStringLiteral("MS")},
        {QStringLiteral("update-feed"),
         QStringLiteral("Address of the update manifest instead of the one built in (the key "
                        "and authorities stay the built-in ones); none: no feed."),
         QStringLiteral("URL")},
        {QStringLiteral("update-wait"),
         QStringLiteral("Longest wait for the update feed (default %1).").arg(updateWaitSeconds),
         QStringLiteral("SECONDS")},
        {QStringLiteral("update-limit"),
         QStringLiteral("Longest time for a check with its download (default %1).")
             .arg(updateLimitSeconds),
         QStringLiteral("SECONDS")},
        {QStringLiteral("install-slot"),
         QStringLiteral("File where a downloaded update waits for the restart (default %1).")
             .arg(installSlot),
         QStringLiteral("FILE")},
    };
    for (const auto &option : options)
        parser.addOption(QCommandLineOption(option.name, option.description, option.valueName));

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "zorvid: %s (see --help)\n", qPrintable(parser.errorText()));
        return Outcome::Invalid;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::fputs(details, stdout);
        return Outcome::HelpShown;
    }
    if (parser.isSet(version)) {
        std::printf("zorvid %s\nupdate feed: %s\n", qPrintable(builtVersion()),
                    FeedTrust::builtIn().isEmpty() ? "none"
                                                   : qPrintable(FeedTrust::builtIn().manifestUrl));
        return Outcome::HelpShown;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "zorvid: unexpected argument %s (see --help)\n",
                     qPrintable(parser.positionalArguments().first()));
        return Outcome::Invalid;
    }

    if (parser.isSet(QStringLiteral("state-dir")))
        stateDir = parser.value(QStringLiteral("state-dir"));
    if (parser.isSet(QStringLiteral("listen")))
        listenAddress = parser.value(QStringLiteral("listen"));
    if (parser.isSet(QStringLiteral("pairing-host")))
        pairingHost = parser.value(QStringLiteral("pairing-host"));
    if (parser.isSet(QStringLiteral("wifi-interface")))
        wifiInterface = parser.value(QStringLiteral("wifi-interface"));
    if (parser.isSet(QStringLiteral("storage")))
        storagePath = parser.value(QStringLiteral("storage"));
    if (parser.isSet(QStringLiteral("install-slot")))
        installSlot = parser.value(QStringLiteral("install-slot"));
    if (parser.isSet(QStringLiteral("update-feed")))
        updateFeed = parser.value(QStringLiteral("update-feed"));
    const bool valid =
        readNumber(parser, QStringLiteral("phone-port"), 0, 65535, &phonePort) &&
        readNumber(parser, QStringLiteral("pairing-seconds"), 1, 86400, &pairingSeconds) &&
        readNumber(parser, QStringLiteral("pairing-attempts"), 1, 100, &pairingAttempts) &&
        readNumber(parser, QStringLiteral("request-timeout"), 100, 600000, &requestTimeoutMs) &&
        readNumber(parser, QStringLiteral("update-wait"), 1, 600, &updateWaitSeconds) &&
        readNumber(parser, QStringLiteral("update-limit"), 1, 86400, &updateLimitSeconds);
    if (!valid)
        return Outcome::Invalid;
    if (!updateFeed.isEmpty() && updateFeed != QLatin1String("none") &&
        !updateFeed.startsWith(QLatin1String("https://"))) {
        std::fprintf(stderr, "zorvid: --update-feed wants an https:// address or none\n");
        return Outcome::Invalid;
    }
    if (stateDir.isEmpty() || installSlot.isEmpty() || storagePath.isEmpty()) {
        std::fprintf(stderr, "zorvid: --state-dir, --storage and --install-slot want a path\n");
        return Outcome::Invalid;
    }
    return Outcome::Run;
}

} // namespace zorvid
