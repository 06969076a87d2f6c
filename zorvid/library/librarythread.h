#pragma once

#include "http/httpreply.h"
#include "library/library.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace zorvid {

// The library's own thread. Reading Nickel's database and sorting a large
// library take long enough to hold up the daemon's sockets, the add-on's
// among them, so replies that need the library are made there: jobs run one
// after the other, each with the library, which no other thread touches,
// and each reply comes back to the thread that asked for it.
class LibraryThread : public QObject {
public:
    using Job = std::function<HttpReply(Library &library)>;

    explicit LibraryThread(std::unique_ptr<Library> library, QObject *parent = nullptr);
    // Waits for the job that runs; those waiting are dropped.
    ~LibraryThread() override;

    // Runs JOB there; DONE gets its reply on this object's thread.
    void run(Job job, HttpReply::Send done);

protected:
    void customEvent(QEvent *event) override;

private:
    void work();

    std::unique_ptr<Library> library;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<quint64, Job>> jobs;
    bool stopping = false;
    // On this object's thread only.
    std::map<quint64, HttpReply::Send> waiting;
    quint64 lastId = 0;
    std::thread worker;
};

} // namespace zorvid
