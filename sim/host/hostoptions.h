#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// The command line of nickel-sim.
class HostOptions {
public:
    enum class Outcome { Run, HelpShown, Invalid };

    // Fills the members from the arguments (program name first). Prints the
    // help on standard output or the error on standard error itself.
    Outcome parse(const QStringList &arguments);
    // Help needs no screen, so it is looked for before the GUI starts.
    static bool helpAsked(int argc, char **argv);

    QSize screenSize{1072, 1448};
    QString configPath = QStringLiteral("/mnt/onboard/.kobo/Kobo/Kobo eReader.conf");
    // The folder that stands for /mnt/onboard: the books a library sync
    // imports and the database it writes (.kobo/KoboReader.sqlite).
    QString storagePath = QStringLiteral("/mnt/onboard");
    QString pluginPath;
    QString scriptPath;
    bool readStandardInput = false;
    bool plugManager = true;
    bool powerManager = true;
    bool wifiWatchdog = true;
    // How long Wi-Fi may stay idle before the watchdog asks to turn it off.
    int wifiIdleMs = 120000;
};
