#include "process/terminationsignals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>

namespace zorvid {

namespace {

sigset_t terminationSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void TerminationSignals::block()
{
    const sigset_t set = terminationSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void(const char *)> onSignal, QObject *parent)
    : QObject(parent)
    , onSignal(std::move(onSignal))
{
    const sigset_t set = terminationSet();
    fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0)
        return;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);
}

TerminationSignals::~TerminationSignals()
{
    delete notifier;
    if (fd >= 0)
        ::close(fd);
}

void TerminationSignals::readSignal()
{
    signalfd_siginfo info;
    while (::read(fd, &info, sizeof info) == ssize_t(sizeof info))
        onSignal(info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM");
}

} // namespace zorvid
