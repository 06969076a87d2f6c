#pragma once

#include <utility>

// Runs ACTION when it goes out of scope: a test's clean-up that must happen
// however the test ends (qScopeGuard came with Qt 5.12).
template <typename Action> class ScopeExit {
public:
    explicit ScopeExit(Action action)
        : action(std::move(action))
    {
    }
    ~ScopeExit() { action(); }
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;

private:
    Action action;
};

template <typename Action> ScopeExit<Action> onScopeExit(Action action)
{
    return ScopeExit<Action>(std::move(action));
}
