#include "nickel/nickelfunctions.h"

#include "plugin/dynamicloader.h"

namespace zorvi {

namespace {

const char nickelLibrary[] = "libnickel.so.1.0.0";

// Every Nickel symbol the add-on uses, and what it is for.
const struct {
    NickelFunction function;
    const char *mangledName;
} nickelSymbols[] = {
    // PlugWorkflowManager::sharedInstance(): the manager of the library, or null.
    {NickelFunction::PlugWorkflowManagerInstance, "_ZN19PlugWorkflowManager14sharedInstanceEv"},
    // PlugWorkflowManager::sync(): rescans the library.
    {NickelFunction::PlugWorkflowManagerSync, "_ZN19PlugWorkflowManager4syncEv"},
    // N3PowerWorkflowManager::sharedInstance(): the power manager, or null.
    {NickelFunction::PowerWorkflowManagerInstance, "_ZN22N3PowerWorkflowManager14sharedInstanceEv"},
    // N3PowerWorkflowManager::reboot(): restarts the device.
    {NickelFunction::PowerWorkflowManagerReboot, "_ZN22N3PowerWorkflowManager6rebootEv"},
    // WirelessWatchdog::sharedInstance(): the QObject behind Nickel's rule that
    // turns Wi-Fi off when idle, or null (nickel/wifikeeper.h).
    {NickelFunction::WirelessWatchdogInstance, "_ZN16WirelessWatchdog14sharedInstanceEv"},
};

} // namespace

void *nickelFunction(NickelFunction function)
{
    // RTLD_NOLOAD: only the copy Nickel has loaded will do; the handle is
    // never closed, the library stays as long as Nickel.
    void *library = dlopen(nickelLibrary, RTLD_LAZY | RTLD_NOLOAD);
    if (!library)
        return nullptr;
    for (const auto &symbol : nickelSymbols) {
        if (symbol.function == function)
            return dlsym(library, symbol.mangledName);
    }
    return nullptr;
}

} // namespace zorvi
