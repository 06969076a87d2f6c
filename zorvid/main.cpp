// zorvid: the reference companion daemon of the Zorvi add-on. See --help.

#include "endpoints/daemonapi.h"
#include "endpoints/phoneactivity.h"
#include "endpoints/phoneserver.h"
#include "http/socketserver.h"
#include "library/highlights.h"
#include "library/library.h"
#include "pairing/pairing.h"
#include "process/daemonlog.h"
#include "process/daemonoptions.h"
#include "process/instancelock.h"
#include "process/terminationsignals.h"
#include "state/clientlist.h"
#include "state/readerstorage.h"
#include "updates/updater.h"
#include "updates/versions.h"
#include "web/bookfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextCodec>

#include <csignal>

using namespace zorvid;

namespace {

const char socketPath[] = "/tmp/zorvid.sock";
const char lockPath[] = "/tmp/zorvid.lock";
const char readyFlag[] = "/tmp/zorvi-update-ready";
// Recent while a paired phone uses the dashboard (endpoints/phoneactivity.h).
const char phoneActiveFlag[] = "/tmp/zorvi-phone-active";

// The exit status after a restart for an update.
constexpr int restartedStatus = 3;

int fail(const QString &reason)
{
    daemonLog(reason);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    TerminationSignals::block();
    // A client that hangs up early must cost its connection, not the daemon.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    // File names are UTF-8, as the reader's storage is mounted and Nickel's
    // database names them, whatever locale zorvid was started in: its keeper
    // gives it none, and Qt 5.2 would then take them for ASCII.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    DaemonOptions options;
    switch (options.parse(app.arguments())) {
    case DaemonOptions::Outcome::Run:
        break;
    case DaemonOptions::Outcome::HelpShown:
        return 0;
    case DaemonOptions::Outcome::Invalid:
        return 2;
    }

    QString error;
    InstanceLock lock;
    if (!lock.acquire(QString::fromLatin1(lockPath), &error))
        return fail(error);

    const QDir stateDir(options.stateDir);
    Updater::Settings updates;
    updates.feed = FeedTrust::builtIn();
    if (options.updateFeed == QLatin1String("none"))
        updates.feed.manifestUrl.clear();
    else if (!options.updateFeed.isEmpty())
        updates.feed.manifestUrl = options.updateFeed;
    updates.storagePath = options.storagePath;
    updates.installSlot = options.installSlot;
    updates.readyFlag = QString::fromLatin1(readyFlag);
    updates.stateFile = stateDir.filePath(QStringLiteral("update.json"));
    // Not a name Nickel takes for a book.
    updates.partialFile = stateDir.filePath(QStringLiteral("update.download"));
    updates.waitMs = options.updateWaitSeconds * 1000;
    updates.wholeMs = options.updateLimitSeconds * 1000;

    ReaderStorage storage(options.storagePath, options.stateDir);
    ClientList clients(stateDir.filePath(QStringLiteral("clients.json")), storage);
    Updater updater(updates, storage);
    // The state is read now, or when the reader's storage comes back.
    const bool stateRead = storage.start([&] {
        if (!QDir().mkpath(options.stateDir)) {
            daemonLog(QStringLiteral("cannot create the state folder %1").arg(options.stateDir));
            return false;
        }
        if (!clients.load()) {
            daemonLog(QStringLiteral("cannot read the client list"));
            return false;
        }
        updater.start();
        return true;
    });
    storage.onLeave([&updater] { updater.suspend(); });
    if (!stateRead)
        return 1;

    Pairing pairing(clients, Pairing::Settings{options.pairingSeconds, options.pairingAttempts,
                                               6 * options.pairingAttempts});
    ConnectionLimits limits;
    limits.requestTimeoutMs = options.requestTimeoutMs;
    const int capacity = ConnectionPool::capacityFor(2);

    // Nickel's library, on the reader's storage as Nickel sees it.
    const QString database =
        QDir(options.storagePath).filePath(QStringLiteral(".kobo/KoboReader.sqlite"));
    const BookFiles files(options.storagePath);
    PhoneActivity activity(QString::fromLatin1(phoneActiveFlag));
    // Strangers on the Wi-Fi write the lines of the pairing port: bounded.
    ConnectionLimits phoneLimits = limits;
    phoneLimits.logLinesPerMinute = 300;
    PhoneServer phone(pairing, clients, std::unique_ptr<Library>(new Library(database)),
                      std::unique_ptr<Highlights>(new Highlights(database)), files, storage,
                      activity, capacity, phoneLimits);
    PhoneServer::Addresses addresses;
    addresses.listen = options.listenAddress;
    addresses.announced = options.pairingHost;
    addresses.wifiInterface = options.wifiInterface;
    if (!phone.listen(addresses, quint16(options.phonePort), &error))
        return fail(error);
    pairing.setAddress([&phone] { return phone.address(); });

    DaemonApi api(pairing, clients, updater, storage,
                  [] { QCoreApplication::exit(restartedStatus); });
    SocketServer server(QString::fromLatin1(socketPath), capacity, limits,
                        [&api](const HttpRequest &request) { return api.handle(request); });
    if (!server.listen(&error))
        return fail(error);

    // Every change of the client list is on disk before it is answered, so
    // a stop between two events has nothing left to save.
    TerminationSignals termination([](const char *name) {
        daemonLog(QStringLiteral("stopping on %1").arg(QLatin1String(name)));
        QCoreApplication::quit();
    });
    if (!termination.isValid())
        return fail(QStringLiteral("cannot watch for SIGTERM"));

    const QString state = storage.isReady()
                              ? QStringLiteral("%1 paired clients, version %2")
                                    .arg(clients.clients().size())
                                    .arg(builtVersion())
                              : QStringLiteral("the state waits for the reader's storage");
    const QString pairingAt = phone.address().isEmpty()
                                  ? QStringLiteral("pairing on port %1 once %2 has an address")
                                        .arg(phone.listeningPort())
                                        .arg(options.wifiInterface)
                                  : QStringLiteral("pairing at %1").arg(phone.address());
    daemonLog(
        QStringLiteral("listening on %1, %2, %3").arg(QLatin1String(socketPath), pairingAt, state));
    const int status = app.exec();
    server.close();
    daemonLog(status == restartedStatus ? QStringLiteral("exiting for the restart")
                                        : QStringLiteral("stopped"));
    return status;
}
