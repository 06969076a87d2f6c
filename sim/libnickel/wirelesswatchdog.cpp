#include "wirelesswatchdog.h"

namespace {
WirelessWatchdog *sharedWatchdog = nullptr;
}

WirelessWatchdog::WirelessWatchdog(int idleMs, QObject *parent)
    : QObject(parent)
{
    idleTimer.setSingleShot(true);
    idleTimer.setInterval(idleMs);
    connect(&idleTimer, &QTimer::timeout, this, [this] { idle(); });
}

WirelessWatchdog::~WirelessWatchdog()
{
    if (sharedWatchdog == this)
        sharedWatchdog = nullptr;
}

WirelessWatchdog *WirelessWatchdog::sharedInstance()
{
    return sharedWatchdog;
}

void WirelessWatchdog::setSharedInstance(WirelessWatchdog *watchdog)
{
    sharedWatchdog = watchdog;
}

void WirelessWatchdog::wifiConnected()
{
    on = true;
    idleTimer.start();
}

bool WirelessWatchdog::wifiOn() const
{
    return on;
}

int WirelessWatchdog::requests() const
{
    return asked;
}

int WirelessWatchdog::refusals() const
{
    return refused;
}

void WirelessWatchdog::idle()
{
    ++asked;
    bool allowed = true;
    emit tryingToKillWifi(&allowed);
    if (!allowed) {
        ++refused;
        idleTimer.start();
        emit wifiKeptOn();
        return;
    }
    on = false;
    emit wifiTurnedOff();
}
