// http/: the connection layer: listening sockets, bounded pools, requests and replies.

#include "http/connectionpool.h"

#include "process/daemonlog.h"
#include "process/logbudget.h"

#include <sys/resource.h>

#include <algorithm>
#include <functional>

namespace zorvid {

namespace {

constexpr int mostPerListener = 64;
// Standard streams, the lock, the listeners, the event loop's own, and the
// files a write opens.
constexpr int daemonsOwnDescriptors = 16;

} // namespace

ConnectionPool::ConnectionPool(const QString &logPrefix, int capacity,
                               const ConnectionLimits &limits, HttpConnection::Handler handler,
                               QObject *parent)
    : QObject(parent)
    , logPrefix(logPrefix)
    , capacity(qMax(1, capacity))
    , limits(limits)
    , handler(std::move(handler))
    , budget(limits.logLinesPerMinute > 0 ? new LogBudget(logPrefix, limits.logLinesPerMinute, this)
                                          : nullptr)
{
    reportTimer.setInterval(1000);
    connect(&reportTimer, &QTimer::timeout, this, &ConnectionPool::report);
}

int ConnectionPool::capacityFor(int listeners)
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return 1;
    if (files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        ::getrlimit(RLIMIT_NOFILE, &files);
    }
    // Each listener also needs one descriptor free to accept a connection
    // before an older one is dropped.
    const rlim_t spare = rlim_t(daemonsOwnDescriptors + listeners);
    if (files.rlim_cur <= spare)
        return 1;
    return int(std::min<rlim_t>(mostPerListener, (files.rlim_cur - spare) / rlim_t(listeners)));
}

void ConnectionPool::adopt(QIODevice *socket)
{
    if (open.size() >= capacity)
        makeRoom();
    auto *connection = new HttpConnection(socket, logPrefix, limits, handler, budget, this);
    open.append(connection);
    connect(connection, &QObject::destroyed, this,
            [this, connection] { open.removeOne(connection); });
}

void ConnectionPool::makeRoom()
{
    // Which goes, in order: the oldest that has had its reply and sends
    // nothing more, the oldest that has sent nothing (its request may be
    // behind a burst still being accepted), the oldest that has had its reply
    // and is still sending, the oldest still waiting for its request.
    const std::function<bool(const HttpConnection *)> preferences[] = {
        &HttpConnection::isDone, &HttpConnection::isIdle, &HttpConnection::isHandedOver,
        [](const HttpConnection *c) {
            return !c->isAnswered();
        }};
    auto victim = open.begin();
    for (const auto &preferred : preferences) {
        const auto found = std::find_if(open.begin(), open.end(), preferred);
        if (found != open.end()) {
            victim = found;
            break;
        }
    }
    HttpConnection *connection = *victim;
    open.erase(victim);
    connection->drop();

    if (reportTimer.isActive()) {
        ++dropped;
        return;
    }
    log(logPrefix + QStringLiteral("more than %1 connections at once: dropping older ones "
                                   "to make room")
                        .arg(capacity));
    reportTimer.start();
}

void ConnectionPool::report()
{
    if (dropped == 0) {
        reportTimer.stop();
        return;
    }
    log(logPrefix + QStringLiteral("%1 connections dropped in the last second, %2 open")
                        .arg(dropped)
                        .arg(open.size()));
    dropped = 0;
}

void ConnectionPool::log(const QString &line)
{
    if (budget)
        budget->log(line);
    else
        daemonLog(line);
}

} // namespace zorvid
