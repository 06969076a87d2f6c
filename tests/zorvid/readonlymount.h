#pragma once

#include <QString>

// DIR mounted read-only over itself for as long as the object lives; each
// test runs in a mount namespace of its own, so nothing outside sees it.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const QString &dir);
    ~ReadOnlyMount();
    ReadOnlyMount(const ReadOnlyMount &) = delete;
    ReadOnlyMount &operator=(const ReadOnlyMount &) = delete;

    bool isMounted() const { return mounted; }

private:
    QString dir;
    bool mounted = false;
};
