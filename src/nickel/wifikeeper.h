#pragma once

#include <QObject>

namespace zorvi {

// Keeps Nickel from turning Wi-Fi off for inactivity while a paired phone
// uses the dashboard, or while the panel shows its pairing page; otherwise
// Nickel's own rule applies.
//
// Nickel's WirelessWatchdog turns Wi-Fi off about two minutes after it
// connects. Before it does, it announces it with its signal
// tryingToKillWifi(bool *allowed), *allowed true, and every listener, called
// directly during the emission, may refuse by setting *allowed to false:
// Wi-Fi then stays on, and the watchdog asks again after its next idle time.
// This object is such a listener. A phone counts as present while zorvid's
// flag /tmp/zorvi-phone-active is recent: zorvid touches it on a paired
// device's requests, so a zorvid that stopped or crashed keeps nothing on
// for long. Without the watchdog in the process it stays inert.
class WifiKeeper : public QObject {
    Q_OBJECT

public:
    explicit WifiKeeper(QObject *parent);
    ~WifiKeeper() override;

    // Whether zorvid's flag says a paired phone has been here lately.
    static bool phoneRecentlyActive();

private slots:
    // Nickel's request to turn Wi-Fi off; clears *allowed to refuse it.
    void answer(bool *allowed);

private:
    // Whether the last request was refused, so that the log tells only of
    // changes, not of every request.
    bool keeping = false;
};

} // namespace zorvi
