#include "plugworkflowmanager.h"

#include <utility>

namespace {
PlugWorkflowManager *sharedManager = nullptr;
}

PlugWorkflowManager::PlugWorkflowManager(SyncHandler onSync)
    : onSync(std::move(onSync))
{
}

PlugWorkflowManager::~PlugWorkflowManager()
{
    if (sharedManager == this)
        sharedManager = nullptr;
}

PlugWorkflowManager *PlugWorkflowManager::sharedInstance()
{
    return sharedManager;
}

void PlugWorkflowManager::setSharedInstance(PlugWorkflowManager *manager)
{
    sharedManager = manager;
}

void PlugWorkflowManager::sync()
{
    ++syncs;
    if (onSync)
        onSync(syncs);
}

int PlugWorkflowManager::syncCount() const
{
    return syncs;
}
