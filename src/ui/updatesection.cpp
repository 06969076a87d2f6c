// The update section of the panel's home page: the installed version, the
// daemon's update state, a check on request, and the restart that installs a
// ready update.

#include "daemon/daemonreply.h"
#include "nickel/nickelfunctions.h"
#include "plugin/failsafe.h"
#include "plugin/pluginlog.h"
#include "ui/elidedlabel.h"
#include "ui/panel.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QJsonObject>
#include <QLabel>
#include <QTimer>

namespace zorvi {

namespace {

// The state text for one reply of the daemon; empty when there is nothing to
// say. The outcome of a check ("last") is shown only to the user who asked.
QString updateText(const QString &state, const QString &version, const QString &last,
                   bool checkRequested)
{
    if (state == QLatin1String("ready"))
        return uiText("updateReady").replace(QLatin1String("{version}"), version);
    if (state == QLatin1String("checking"))
        return uiText("checkingUpdates");
    if (state == QLatin1String("downloading"))
        return uiText("downloadingUpdate").replace(QLatin1String("{version}"), version);
    if (!checkRequested)
        return QString();
    if (last == QLatin1String("up_to_date"))
        return uiText("upToDate");
    if (last == QLatin1String("blocked"))
        return uiText("updateBlocked");
    if (last == QLatin1String("failed"))
        return uiText("updateCheckFailed");
    return QString();
}

} // namespace

void Panel::refreshUpdate()
{
    // The status is not examined: whatever the body holds is the state, and
    // no usable body reads as an empty object.
    const QJsonObject update = client.updateStatus().json.object();
    const QString state = jsonString(update, QStringLiteral("state"));
    const QString version =
        daemonText(jsonString(update, QStringLiteral("version")), longestVersion);
    const QString last = jsonString(update, QStringLiteral("last"));
    const QString current =
        daemonText(jsonString(update, QStringLiteral("current")), longestVersion);
    const bool ready = state == QLatin1String("ready");
    const bool busy = state == QLatin1String("checking") || state == QLatin1String("downloading");

    const QString text = updateText(state, version, last, checkRequested);
    setLiteralText(updateLabel, text);
    updateLabel->setVisible(!text.isEmpty());
    restartButton->setVisible(ready);
    versionLabel->setFullText(current.isEmpty() ? QString() : QLatin1String("Zorvi ") + current);
    checkButton->setVisible(!current.isEmpty() && !ready);
    checkButton->setEnabled(!busy);
    if (busy)
        updateTimer->start();
    else
        updateTimer->stop();
}

void Panel::requestUpdateCheck()
{
    checkRequested = true;
    if (client.checkForUpdate()) {
        refreshUpdate();
        return;
    }
    setLiteralText(updateLabel, uiText("updateCheckFailed"));
    updateLabel->show();
}

void Panel::restartAndInstall()
{
    pluginLog(QStringLiteral("restarting to install an update"));

    // A restart asked for here is no failed start of Nickel: within its first
    // twenty seconds the library gets its own name back first, so that the
    // reader comes back with the add-on on.
    const bool restored = restoreFailsafe();

    // Nickel restarts the device itself when it can; the daemon is asked only
    // when Nickel's power manager cannot be reached.
    const auto instance = reinterpret_cast<NickelInstance>(
        nickelFunction(NickelFunction::PowerWorkflowManagerInstance));
    const auto reboot =
        reinterpret_cast<NickelMethod>(nickelFunction(NickelFunction::PowerWorkflowManagerReboot));
    if (instance && reboot) {
        if (void *manager = instance()) {
            reboot(manager);
            return;
        }
    }
    if (client.restartForUpdate())
        return;

    if (restored)
        rearmFailsafe();
    pluginLog(QStringLiteral("restart unavailable"));
    setLiteralText(homeStatusLabel, uiText("homeOffline"));
}

} // namespace zorvi
