#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <functional>

namespace zorvid {

// SIGTERM and SIGINT delivered through the event loop (signalfd), so the
// daemon stops between two events with its state whole.
class TerminationSignals : public QObject {
public:
    // Blocks both signals for the whole process; call before any thread
    // starts, so that none of them takes the signal instead.
    static void block();

    // ON_SIGNAL gets the signal's name ("SIGTERM" or "SIGINT").
    explicit TerminationSignals(std::function<void(const char *)> onSignal,
                                QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isValid() const { return fd >= 0; }

private:
    void readSignal();

    int fd = -1;
    QSocketNotifier *notifier = nullptr;
    std::function<void(const char *)> onSignal;
};

} // namespace zorvid
