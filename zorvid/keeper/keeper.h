#pragma once

#include "keeper/keeperlog.h"

#include <string>
#include <sys/types.h>

namespace zorvid {

// Closes every descriptor from FIRST up, whoever opened it.
void closeDescriptorsFrom(int first);

// Runs zorvid for as long as the Wi-Fi interface exists and the add-on is on:
// started at once, started again a moment after it ends (later and later
// while it keeps ending soon after its start), stopped with SIGTERM, so its
// state is saved and its socket removed, when the interface goes (the kernel
// says so on a netlink socket), when the keeper is told to stop, or when its
// program is removed (the add-on's uninstall). Everything waits in one poll():
// nothing is polled on a timer while zorvid runs.
class Keeper {
public:
    struct Settings {
        std::string interface;
        std::string program;    // zorvid
        std::string library;    // the add-on's library, for its state
        std::string switchFile; // the add-on's switch
        std::string installDir; // where the program lies, watched for an uninstall
    };

    Keeper(Settings settings, KeeperLog &log);
    ~Keeper();
    Keeper(const Keeper &) = delete;
    Keeper &operator=(const Keeper &) = delete;

    // Keeps zorvid until there is no more reason to; the exit status.
    int run();

private:
    enum class Verdict { Run, Wait, Stop };

    bool open();
    Verdict verdict();
    bool start();
    void stop();
    void childEnded(int status);
    void readChild();
    void drainSignals();
    long long now() const;

    Settings settings;
    KeeperLog &log;
    int signals = -1;
    int links = -1;
    int installWatch = -1;
    int childOutput = -1;
    pid_t child = -1;
    bool stopAsked = false;
    long long childStarted = 0;
    long long nextStart = 0;
    long long restartDelay = 0;
    long long failsafeSince = -1;
};

} // namespace zorvid
