#pragma once

#include "nickel/nickelfunctions.h"

#include <QElapsedTimer>
#include <QObject>

class QFileSystemWatcher;
class QTimer;

namespace zorvi {

// Makes Nickel rescan its library when another process asks for it by
// creating the flag file /tmp/zorvi-rescan. The rescan waits until /tmp has
// been quiet for a while, but not longer than a few seconds in all, then
// deletes the flag and calls Nickel's own PlugWorkflowManager::sync().
// Without that function in the process the object stays inert.
class Rescanner : public QObject {
public:
    explicit Rescanner(QObject *parent);
    ~Rescanner() override;

private:
    void checkFlag();
    void rescan();

    QFileSystemWatcher *watcher;
    QTimer *timer;
    // Since when the flag has been waiting for its rescan.
    QElapsedTimer waiting;
    NickelInstance sharedInstance = nullptr;
    NickelMethod sync = nullptr;
};

} // namespace zorvi
