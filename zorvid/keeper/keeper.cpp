#include "keeper/keeper.h"

#include "keeper/addonstate.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zorvid {

namespace {

// The first start again comes this soon after zorvid ended; each end within
// a minute of its start doubles the wait, up to a minute.
const long long firstRestartMs = 1000;
const long long longestRestartMs = 60000;
const long long steadyRunMs = 60000;
// Every start of Nickel gives the add-on's library its failsafe name for
// twenty seconds; one that keeps it longer was interrupted.
const long long failsafeWaitMs = 30000;
const long long failsafeCheckMs = 2000;
// What zorvid gets to save its state after SIGTERM.
const long long stopGraceMs = 5000;

} // namespace

void closeDescriptorsFrom(int first)
{
    rlimit limit{};
    const long last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                          ? long(std::min<rlim_t>(limit.rlim_cur, 65536))
                          : 65536;
    for (long fd = first; fd < last; ++fd)
        ::close(int(fd));
}

Keeper::Keeper(Settings settings, KeeperLog &log)
    : settings(std::move(settings))
    , log(log)
{
}

Keeper::~Keeper()
{
    for (int fd : {signals, links, installWatch, childOutput})
        if (fd >= 0)
            ::close(fd);
}

long long Keeper::now() const
{
    timespec time{};
    ::clock_gettime(CLOCK_MONOTONIC, &time);
    return time.tv_sec * 1000LL + time.tv_nsec / 1000000;
}

bool Keeper::open()
{
    sigset_t mask;
    sigemptyset(&mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        sigaddset(&mask, signal);
    ::sigprocmask(SIG_BLOCK, &mask, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    signals = ::signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);

    // The kernel tells of every interface that comes or goes here.
    links = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK;
    if (links >= 0 && ::bind(links, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(links);
        links = -1;
    }

    installWatch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (installWatch >= 0 &&
        ::inotify_add_watch(installWatch, settings.installDir.c_str(),
                            IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        ::close(installWatch);
        installWatch = -1;
    }
    if (signals < 0 || links < 0 || installWatch < 0) {
        log.line("cannot watch signals, network interfaces or " + settings.installDir);
        return false;
    }
    return true;
}

Keeper::Verdict Keeper::verdict()
{
    if (::if_nametoindex(settings.interface.c_str()) == 0) {
        log.line(settings.interface + " is gone");
        return Verdict::Stop;
    }
    if (::access(settings.program.c_str(), X_OK) != 0) {
        log.line("zorvid is not installed any more");
        return Verdict::Stop;
    }
    if (child > 0)
        return Verdict::Run;
    const AddOnState state = addOnState(settings.library, settings.switchFile);
    if (state == AddOnState::Failsafe) {
        if (failsafeSince < 0) {
            failsafeSince = now();
            log.line("waiting: the add-on has its failsafe name");
        }
        if (now() - failsafeSince < failsafeWaitMs)
            return Verdict::Wait;
        log.line("not starting zorvid: the add-on stayed in its failsafe");
        return Verdict::Stop;
    }
    failsafeSince = -1;
    if (state != AddOnState::On) {
        log.line(std::string("not starting zorvid: ") + describe(state));
        return Verdict::Stop;
    }
    return Verdict::Run;
}

int Keeper::run()
{
    if (!open())
        return 1;
    log.line("keeping zorvid while " + settings.interface + " is there");
    for (;;) {
        if (stopAsked) {
            stop();
            return 0;
        }
        const Verdict verdict = this->verdict();
        if (verdict == Verdict::Stop) {
            stop();
            return 0;
        }
        if (verdict == Verdict::Run && child < 0 && now() >= nextStart && !start())
            return 1;

        int timeout = -1;
        if (verdict == Verdict::Wait)
            timeout = int(failsafeCheckMs);
        else if (child < 0)
            timeout = int(std::max(0LL, nextStart - now()));
        pollfd fds[] = {{signals, POLLIN, 0},
                        {links, POLLIN, 0},
                        {installWatch, POLLIN, 0},
                        {childOutput, POLLIN, 0}};
        if (::poll(fds, childOutput >= 0 ? 4 : 3, timeout) < 0 && errno != EINTR)
            return 1;
        char discard[4096];
        if (fds[1].revents)
            while (::recv(links, discard, sizeof discard, 0) > 0) {
            }
        if (fds[2].revents)
            while (::read(installWatch, discard, sizeof discard) > 0) {
            }
        if (childOutput >= 0 && fds[3].revents)
            readChild();
        if (fds[0].revents)
            drainSignals();
    }
}

bool Keeper::start()
{
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        log.line("cannot start zorvid: no pipe");
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(output[0]);
        ::close(output[1]);
        log.line("cannot start zorvid: fork failed");
        return false;
    }
    if (pid == 0) {
        // zorvid gets the keeper's standard error for its log, /dev/null
        // for its input, no other descriptor, / as its working directory,
        // default signals and an environment of its own.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        std::signal(SIGPIPE, SIG_DFL);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(output[1], 1);
        ::dup2(output[1], 2);
        closeDescriptorsFrom(3);
        if (::chdir("/") != 0)
            ::_exit(127);
        const std::string interfaceOption = settings.interface;
        const char *argv[] = {settings.program.c_str(), "--wifi-interface", interfaceOption.c_str(),
                              nullptr};
        const char *environment[] = {"PATH=/sbin:/usr/sbin:/bin:/usr/bin", "HOME=/", nullptr};
        ::execve(settings.program.c_str(), const_cast<char **>(argv),
                 const_cast<char **>(environment));
        ::_exit(127);
    }
    ::close(output[1]);
    ::fcntl(output[0], F_SETFL, O_NONBLOCK);
    childOutput = output[0];
    child = pid;
    childStarted = now();
    log.line("zorvid started (process " + std::to_string(pid) + ")");
    return true;
}

void Keeper::readChild()
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(childOutput, buffer, sizeof buffer);
        if (got > 0) {
            log.append(buffer, got);
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            ::close(childOutput);
            childOutput = -1;
        }
        return;
    }
}

void Keeper::drainSignals()
{
    signalfd_siginfo info{};
    while (::read(signals, &info, sizeof info) == ssize_t(sizeof info)) {
        if (info.ssi_signo != SIGCHLD)
            stopAsked = true;
    }
    int status = 0;
    pid_t ended;
    while ((ended = ::waitpid(-1, &status, WNOHANG)) > 0)
        if (ended == child)
            childEnded(status);
}

void Keeper::childEnded(int status)
{
    if (childOutput >= 0)
        readChild();
    child = -1;
    if (WIFSIGNALED(status))
        log.line("zorvid was killed by signal " + std::to_string(WTERMSIG(status)));
    else
        log.line("zorvid ended with status " + std::to_string(WEXITSTATUS(status)));
    if (stopAsked)
        return;
    const bool steady = now() - childStarted >= steadyRunMs;
    restartDelay =
        steady || restartDelay == 0 ? firstRestartMs : std::min(restartDelay * 2, longestRestartMs);
    nextStart = now() + restartDelay;
    if (restartDelay > firstRestartMs)
        log.line("zorvid keeps ending soon after its start; next start in " +
                 std::to_string(restartDelay / 1000) + " s");
}

void Keeper::stop()
{
    if (child > 0) {
        ::kill(child, SIGTERM);
        const long long deadline = now() + stopGraceMs;
        stopAsked = true;
        while (child > 0 && now() < deadline) {
            pollfd fds[] = {{signals, POLLIN, 0}, {childOutput, POLLIN, 0}};
            ::poll(fds, childOutput >= 0 ? 2 : 1, int(std::max(0LL, deadline - now())));
            if (childOutput >= 0 && fds[1].revents)
                readChild();
            drainSignals();
        }
        if (child > 0) {
            log.line("zorvid did not stop within 5 s; killing it");
            ::kill(child, SIGKILL);
            int status = 0;
            if (::waitpid(child, &status, 0) == child)
                childEnded(status);
        }
    }
    log.line("stopped keeping zorvid");
}

} // namespace zorvid
