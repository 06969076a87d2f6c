#include "n3powerworkflowmanager.h"

#include <utility>

namespace {
N3PowerWorkflowManager *sharedManager = nullptr;
}

N3PowerWorkflowManager::N3PowerWorkflowManager(RebootHandler onReboot)
    : onReboot(std::move(onReboot))
{
}

N3PowerWorkflowManager::~N3PowerWorkflowManager()
{
    if (sharedManager == this)
        sharedManager = nullptr;
}

N3PowerWorkflowManager *N3PowerWorkflowManager::sharedInstance()
{
    return sharedManager;
}

void N3PowerWorkflowManager::setSharedInstance(N3PowerWorkflowManager *manager)
{
    sharedManager = manager;
}

void N3PowerWorkflowManager::reboot()
{
    ++reboots;
    if (onReboot)
        onReboot();
}

int N3PowerWorkflowManager::rebootCount() const
{
    return reboots;
}
