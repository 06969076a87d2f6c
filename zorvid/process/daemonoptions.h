#pragma once

#include <QString>
#include <QStringList>

namespace zorvid {

// What zorvid's command line sets.
struct DaemonOptions {
    QString stateDir = QStringLiteral("/mnt/onboard/.adds/zorvi/zorvid");
    // The reader's storage: a state folder under it waits for it to be mounted.
    QString storagePath = QStringLiteral("/mnt/onboard");
    int phonePort = 8732;
    QString listenAddress = QStringLiteral("0.0.0.0");
    QString pairingHost;
    QString wifiInterface = QStringLiteral("wlan0");
    int pairingSeconds = 600;
    int pairingAttempts = 5;
    int requestTimeoutMs = 5000;
    // Empty: the feed built in; "none": no feed.
    QString updateFeed;
    int updateWaitSeconds = 30;
    int updateLimitSeconds = 1800;
    QString installSlot = QStringLiteral("/mnt/onboard/.kobo/KoboRoot.tgz");

    enum class Outcome { Run, HelpShown, Invalid };
    // Reads ARGUMENTS (argv, program name first); prints the help or the
    // error itself.
    Outcome parse(const QStringList &arguments);
};

} // namespace zorvid
