#include "http/listener.h"

#include "process/daemonlog.h"

#include <QLocalSocket>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace zorvid {

namespace {

constexpr int pauseAfterFailureMs = 100;

} // namespace

Listener::Listener(const QString &name, const QString &logPrefix, int capacity,
                   const ConnectionLimits &limits, HttpConnection::Handler handler, QObject *parent)
    : QObject(parent)
    , name(name)
    , pool(logPrefix, capacity, limits, std::move(handler))
{
    resume.setSingleShot(true);
    resume.setInterval(pauseAfterFailureMs);
    connect(&resume, &QTimer::timeout, this, [this] {
        if (notifier)
            notifier->setEnabled(true);
    });
}

Listener::~Listener()
{
    close();
}

void Listener::start(int listening)
{
    descriptor = listening;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(descriptor, reinterpret_cast<sockaddr *>(&address), &length);
    local = address.ss_family == AF_UNIX;
    notifier.reset(new QSocketNotifier(descriptor, QSocketNotifier::Read));
    connect(notifier.get(), &QSocketNotifier::activated, this, &Listener::acceptPending);
}

void Listener::close()
{
    resume.stop();
    notifier.reset();
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
}

void Listener::acceptPending()
{
    for (int taken = 0; taken < pool.acceptsPerTurn(); ++taken) {
        const int client = ::accept4(descriptor, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            if (!failing)
                daemonLog(QStringLiteral("cannot accept a connection on %1: %2; trying again")
                              .arg(name, QString::fromLocal8Bit(std::strerror(errno))));
            failing = true;
            notifier->setEnabled(false);
            resume.start();
            return;
        }
        if (failing)
            daemonLog(QStringLiteral("accepting connections on %1 again").arg(name));
        failing = false;

        QIODevice *socket = nullptr;
        if (local) {
            auto *localSocket = new QLocalSocket;
            if (localSocket->setSocketDescriptor(client))
                socket = localSocket;
            else
                delete localSocket;
        } else {
            auto *tcpSocket = new QTcpSocket;
            if (tcpSocket->setSocketDescriptor(client))
                socket = tcpSocket;
            else
                delete tcpSocket;
        }
        if (socket)
            pool.adopt(socket);
        else
            ::close(client);
    }
}

} // namespace zorvid
