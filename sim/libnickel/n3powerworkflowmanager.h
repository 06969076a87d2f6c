#pragma once

#include <functional>

// Nickel's power manager. The add-on looks up sharedInstance() and reboot() by
// their mangled names to restart the device after an update, so both stay
// plain, non-inline, non-virtual members of a class at global scope.
class N3PowerWorkflowManager {
public:
    // Carries out the restart; the host ends itself here.
    using RebootHandler = std::function<void()>;

    explicit N3PowerWorkflowManager(RebootHandler onReboot);
    ~N3PowerWorkflowManager();
    N3PowerWorkflowManager(const N3PowerWorkflowManager &) = delete;
    N3PowerWorkflowManager &operator=(const N3PowerWorkflowManager &) = delete;

    // The host's one manager, or null when the host runs without one.
    static N3PowerWorkflowManager *sharedInstance();
    // Used by the host to publish (or withdraw, with null) its manager.
    static void setSharedInstance(N3PowerWorkflowManager *manager);

    void reboot();
    int rebootCount() const;

private:
    RebootHandler onReboot;
    int reboots = 0;
};
