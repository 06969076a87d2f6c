#pragma once

#include <QObject>
#include <QTimer>

// Nickel's inactivity rule for Wi-Fi. Once Wi-Fi is connected, it waits an
// idle time (about two minutes on the reader) and then announces that it is
// about to turn Wi-Fi off: tryingToKillWifi(bool *allowed), emitted with
// *allowed true. Every listener is called directly, before the emission
// returns, and may refuse by setting *allowed to false; Wi-Fi then stays on
// and the watchdog waits another idle time before it asks again. Otherwise it
// turns Wi-Fi off. The add-on looks up sharedInstance() by its mangled name
// and connects to the signal through the meta-object, so the class stays at
// global scope under Nickel's name.
class WirelessWatchdog : public QObject {
    Q_OBJECT

public:
    explicit WirelessWatchdog(int idleMs, QObject *parent = nullptr);
    ~WirelessWatchdog() override;

    // The host's one watchdog, or null when the host runs without one.
    static WirelessWatchdog *sharedInstance();
    // Used by the host to publish (or withdraw, with null) its watchdog.
    static void setSharedInstance(WirelessWatchdog *watchdog);

    // Wi-Fi has connected: the idle time starts.
    void wifiConnected();
    bool wifiOn() const;
    // How often it has asked to turn Wi-Fi off, and been refused.
    int requests() const;
    int refusals() const;

signals:
    void tryingToKillWifi(bool *allowed);
    // After it turned Wi-Fi off, or after a listener kept Wi-Fi on.
    void wifiTurnedOff();
    void wifiKeptOn();

private:
    void idle();

    QTimer idleTimer;
    bool on = false;
    int asked = 0;
    int refused = 0;
};
