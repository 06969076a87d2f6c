#include "library/librarythread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QThread>

namespace zorvid {

namespace {

// A job's reply, posted to the thread that asked for it.
struct JobDone : QEvent {
    JobDone(quint64 id, HttpReply reply)
        : QEvent(type())
        , id(id)
        , reply(std::move(reply))
    {
    }
    static QEvent::Type type()
    {
        static const auto registered = QEvent::Type(QEvent::registerEventType());
        return registered;
    }
    quint64 id;
    HttpReply reply;
};

} // namespace

LibraryThread::LibraryThread(std::unique_ptr<Library> library, QObject *parent)
    : QObject(parent)
    , library(std::move(library))
    , worker(&LibraryThread::work, this)
{
}

LibraryThread::~LibraryThread()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        jobs.clear();
    }
    wake.notify_one();
    worker.join();
}

void LibraryThread::run(Job job, HttpReply::Send done)
{
    const quint64 id = ++lastId;
    waiting.emplace(id, std::move(done));
    {
        const std::lock_guard<std::mutex> lock(mutex);
        jobs.emplace_back(id, std::move(job));
    }
    wake.notify_one();
}

void LibraryThread::customEvent(QEvent *event)
{
    if (event->type() != JobDone::type())
        return;
    auto *done = static_cast<JobDone *>(event);
    const auto found = waiting.find(done->id);
    if (found == waiting.end())
        return;
    const HttpReply::Send send = std::move(found->second);
    waiting.erase(found);
    send(done->reply);
}

void LibraryThread::work()
{
    QThread *const home = QObject::thread();
    for (;;) {
        std::pair<quint64, Job> next;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (stopping)
                return;
            next = std::move(jobs.front());
            jobs.pop_front();
        }
        HttpReply reply = next.second(*library);
        // A file opened here is read where the reply is sent.
        if (reply.file)
            reply.file->moveToThread(home);
        QCoreApplication::postEvent(this, new JobDone(next.first, std::move(reply)));
    }
}

} // namespace zorvid
