#include "nickel/wifikeeper.h"

#include "nickel/nickelfunctions.h"
#include "plugin/devicepaths.h"
#include "plugin/pluginlog.h"
#include "ui/panel.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMetaMethod>

namespace zorvi {

namespace {

// The announcement, WirelessWatchdog::tryingToKillWifi(bool*) (mangled
// _ZN16WirelessWatchdog16tryingToKillWifiEPb), as its meta-object names it.
// It is connected through the meta-object, as any Qt signal of a class the
// add-on cannot include. The class and its ask-with-a-bool-pointer protocol
// are what Nickel's own browser relies on to keep Wi-Fi; the signal's exact
// name is still to be checked against a reader's libnickel: a Nickel that
// names it otherwise gets one log line saying so and keeps its own rule.
const char killRequestSignal[] = "tryingToKillWifi(bool*)";

// How long after the phone's last request Wi-Fi stays on: a few minutes, so
// that a phone whose owner reads a page, or whose browser sleeps a moment,
// finds the reader still there. zorvid touches the flag at most every 30 s
// while the phone is active, far more often than that.
const qint64 phonePresenceMs = 3 * 60 * 1000;

} // namespace

WifiKeeper::WifiKeeper(QObject *parent)
    : QObject(parent)
{
    const auto sharedInstance =
        reinterpret_cast<NickelInstance>(nickelFunction(NickelFunction::WirelessWatchdogInstance));
    if (!sharedInstance) {
        pluginLog(QStringLiteral("Wi-Fi keep-alive unavailable: WirelessWatchdog not found"));
        return;
    }
    QObject *watchdog = static_cast<QObject *>(sharedInstance());
    if (!watchdog) {
        pluginLog(QStringLiteral("Wi-Fi keep-alive unavailable: no WirelessWatchdog instance"));
        return;
    }
    const QMetaObject *meta = watchdog->metaObject();
    const int signalIndex = meta->indexOfSignal(killRequestSignal);
    if (signalIndex < 0) {
        pluginLog(QStringLiteral("Wi-Fi keep-alive unavailable: %1 has no signal %2")
                      .arg(QString::fromLatin1(meta->className()))
                      .arg(QString::fromLatin1(killRequestSignal)));
        return;
    }
    // Direct, whatever the threads: the answer must be in *allowed before
    // the emission returns, and the pointer is dead after it. The connection
    // goes with either object.
    const QMetaMethod answerSlot =
        staticMetaObject.method(staticMetaObject.indexOfSlot("answer(bool*)"));
    connect(watchdog, meta->method(signalIndex), this, answerSlot, Qt::DirectConnection);
}

WifiKeeper::~WifiKeeper() = default;

bool WifiKeeper::phoneRecentlyActive()
{
    const QFileInfo flag(QString::fromLatin1(phoneActiveFlag));
    if (!flag.exists())
        return false;
    // A flag from the future is as stale as an old one: the clock was set
    // back after it was touched, and zorvid touches it again at the phone's
    // next request if the phone is still there.
    const qint64 age =
        QDateTime::currentMSecsSinceEpoch() - flag.lastModified().toMSecsSinceEpoch();
    return qAbs(age) <= phonePresenceMs;
}

void WifiKeeper::answer(bool *allowed)
{
    if (!allowed)
        return;
    const bool phone = phoneRecentlyActive();
    const bool pairing = !phone && pairingPageOpen();
    const bool keep = phone || pairing;
    if (keep)
        *allowed = false;
    if (keep && !keeping) {
        pluginLog(phone ? QStringLiteral("keeping Wi-Fi on: a paired phone is browsing")
                        : QStringLiteral("keeping Wi-Fi on: the pairing page is open"));
    } else if (!keep && keeping) {
        pluginLog(QStringLiteral("Wi-Fi left to Nickel's idle rule"));
    }
    keeping = keep;
}

} // namespace zorvi
