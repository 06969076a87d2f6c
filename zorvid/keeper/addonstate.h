// keeper/: zorvid-keeper, which keeps zorvid running on the reader exactly while Wi-Fi is on.

#pragma once

#include <string>

namespace zorvid {

// What the add-on's files say of it, as Nickel will find them at its next
// start: zorvid runs only beside an add-on that runs.
enum class AddOnState {
    On,
    // Only under its failsafe name: for the first twenty seconds of every
    // start of Nickel, and for good after a start that was interrupted.
    Failsafe,
    SwitchedOff,
    Uninstalled,
};

// The state of the add-on whose library is LIBRARY (its failsafe name is
// LIBRARY + ".failsafe") and whose switch file is SWITCH_FILE.
AddOnState addOnState(const std::string &library, const std::string &switchFile);

const char *describe(AddOnState state);

} // namespace zorvid
