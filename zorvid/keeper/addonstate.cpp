#include "keeper/addonstate.h"

#include <unistd.h>

namespace zorvid {

namespace {

bool exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

} // namespace

AddOnState addOnState(const std::string &library, const std::string &switchFile)
{
    if (!exists(library))
        return exists(library + ".failsafe") ? AddOnState::Failsafe : AddOnState::Uninstalled;
    return exists(switchFile) ? AddOnState::SwitchedOff : AddOnState::On;
}

const char *describe(AddOnState state)
{
    switch (state) {
    case AddOnState::On:
        return "the add-on is on";
    case AddOnState::Failsafe:
        return "the add-on is in its failsafe";
    case AddOnState::SwitchedOff:
        return "the add-on is switched off";
    case AddOnState::Uninstalled:
        return "the add-on is not installed";
    }
    return "";
}

} // namespace zorvid
