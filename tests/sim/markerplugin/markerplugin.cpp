#include "markerplugin.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <dlfcn.h>

namespace {

void say(const QByteArray &text)
{
    std::printf("marker-plugin: %s\n", text.constData());
    std::fflush(stdout);
}

using SharedInstance = void *(*)();
using MemberCall = void (*)(void *);

// Finds a manager and calls one of its functions through Nickel's library,
// which the host has loaded already, by mangled names only.
void callManager(void *nickel, const char *instanceSymbol, const char *memberSymbol,
                 const QByteArray &what)
{
    const auto instance = reinterpret_cast<SharedInstance>(dlsym(nickel, instanceSymbol));
    const auto member = reinterpret_cast<MemberCall>(dlsym(nickel, memberSymbol));
    if (!instance || !member) {
        say(what + " symbols missing");
        return;
    }
    void *manager = instance();
    if (!manager) {
        say("no " + what);
        return;
    }
    member(manager);
    say(what + " called");
}

// MARKER_PLUGIN_CALLS lists the calls to make at load time, comma separated:
// "sync" and "reboot".
void callHost()
{
    const QByteArray calls = qgetenv("MARKER_PLUGIN_CALLS");
    if (calls.isEmpty())
        return;
    void *nickel = dlopen("libnickel.so.1.0.0", RTLD_LAZY | RTLD_NOLOAD);
    say(nickel ? "libnickel found" : "libnickel not found");
    if (!nickel)
        return;
    for (const QByteArray &call : calls.split(',')) {
        if (call == "sync")
            callManager(nickel, "_ZN19PlugWorkflowManager14sharedInstanceEv",
                        "_ZN19PlugWorkflowManager4syncEv", "PlugWorkflowManager");
        else if (call == "reboot")
            callManager(nickel, "_ZN22N3PowerWorkflowManager14sharedInstanceEv",
                        "_ZN22N3PowerWorkflowManager6rebootEv", "N3PowerWorkflowManager");
    }
}

__attribute__((constructor)) void markerLoaded()
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        say("loaded without application");
    else if (QThread::currentThread() == app->thread())
        say("loaded with application on its thread");
    else
        say("loaded with application on another thread");
    callHost();
}

} // namespace

MarkerPlugin::MarkerPlugin(QObject *parent)
    : QImageIOPlugin(parent)
{
    say("instantiated");
}

QImageIOPlugin::Capabilities MarkerPlugin::capabilities(QIODevice *, const QByteArray &) const
{
    return {};
}

QImageIOHandler *MarkerPlugin::create(QIODevice *, const QByteArray &) const
{
    return nullptr;
}
