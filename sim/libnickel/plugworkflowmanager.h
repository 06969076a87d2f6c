#pragma once

#include <functional>

// Nickel's library manager. The add-on looks up sharedInstance() and sync() by
// their mangled names and calls sync() to make the host rescan its library, so
// both stay plain, non-inline, non-virtual members of a class at global scope.
class PlugWorkflowManager {
public:
    // Called after every sync() with the number of syncs so far.
    using SyncHandler = std::function<void(int syncCount)>;

    explicit PlugWorkflowManager(SyncHandler onSync);
    ~PlugWorkflowManager();
    PlugWorkflowManager(const PlugWorkflowManager &) = delete;
    PlugWorkflowManager &operator=(const PlugWorkflowManager &) = delete;

    // The host's one manager, or null when the host runs without one.
    static PlugWorkflowManager *sharedInstance();
    // Used by the host to publish (or withdraw, with null) its manager.
    static void setSharedInstance(PlugWorkflowManager *manager);

    void sync();
    int syncCount() const;

private:
    SyncHandler onSync;
    int syncs = 0;
};
