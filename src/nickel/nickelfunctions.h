#pragma once

namespace zorvi {

// Nickel's own functions that the add-on calls. They are never linked: each
// is looked up by its mangled name in the copy of Nickel's library that
// Nickel has already loaded, so a Nickel without one costs only its feature.
enum class NickelFunction {
    PlugWorkflowManagerInstance,
    PlugWorkflowManagerSync,
    PowerWorkflowManagerInstance,
    PowerWorkflowManagerReboot,
    WirelessWatchdogInstance,
};

// Nickel's managers are reached through a static accessor, and their
// non-virtual member functions are called with the manager as the only
// argument.
using NickelInstance = void *(*)();
using NickelMethod = void (*)(void *);

// The function's address, or null when Nickel's library is not loaded in this
// process or does not export it.
void *nickelFunction(NickelFunction function);

} // namespace zorvi
