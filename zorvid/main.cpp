// zorvid: the reference companion daemon of the Zorvi add-on. See --help.

#include "clientlist.h"
#include "daemonapi.h"
#include "daemonlog.h"
#include "daemonoptions.h"
#include "pairing.h"
#include "phoneserver.h"
#include "socketserver.h"
#include "terminationsignals.h"
#include "updater.h"

#include <QCoreApplication>
#include <QDir>

#include <csignal>

using namespace zorvid;

namespace {

const char socketPath[] = "/tmp/zorvid.sock";
const char readyFlag[] = "/tmp/zorvi-update-ready";

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

    DaemonOptions options;
    switch (options.parse(app.arguments())) {
    case DaemonOptions::Outcome::Run:
        break;
    case DaemonOptions::Outcome::HelpShown:
        return 0;
    case DaemonOptions::Outcome::Invalid:
        return 2;
    }

    if (!QDir().mkpath(options.stateDir))
        return fail(QStringLiteral("cannot create the state folder %1").arg(options.stateDir));
    const QDir stateDir(options.stateDir);
    ClientList clients(stateDir.filePath(QStringLiteral("clients.json")));
    if (!clients.load())
        return fail(QStringLiteral("cannot read the client list"));

    Updater::Settings updates;
    updates.factoryVersion = options.currentVersion;
    updates.offeredVersion = options.offeredVersion;
    updates.checkFails = options.checkFails;
    updates.checkSeconds = options.checkSeconds;
    updates.downloadSeconds = options.downloadSeconds;
    updates.installSlot = options.installSlot;
    updates.readyFlag = QString::fromLatin1(readyFlag);
    updates.installedFile = stateDir.filePath(QStringLiteral("update.json"));
    Updater updater(updates);
    updater.start();

    Pairing pairing(clients, Pairing::Settings{options.pairingSeconds, options.pairingAttempts});
    ConnectionLimits limits;
    limits.requestTimeoutMs = options.requestTimeoutMs;

    QString error;
    PhoneServer phone(pairing, limits);
    if (!phone.listen(quint16(options.phonePort), &error))
        return fail(error);
    pairing.setAddress(phone.address());

    DaemonApi api(pairing, clients, updater, [] { QCoreApplication::exit(restartedStatus); });
    SocketServer server(QString::fromLatin1(socketPath), limits,
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

    daemonLog(
        QStringLiteral("listening on %1, pairing at %2, %3 paired clients, version %4 installed")
            .arg(QLatin1String(socketPath), phone.address())
            .arg(clients.clients().size())
            .arg(updater.installedVersion()));
    const int status = app.exec();
    server.close();
    daemonLog(status == restartedStatus ? QStringLiteral("exiting for the restart")
                                        : QStringLiteral("stopped"));
    return status;
}
