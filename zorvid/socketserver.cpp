#include "socketserver.h"

#include "daemonlog.h"

#include <QFile>
#include <QLocalSocket>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace zorvid {

namespace {

constexpr int pauseAfterFailureMs = 100;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

SocketServer::SocketServer(const QString &path, int capacity, const ConnectionLimits &limits,
                           HttpConnection::Handler handler, QObject *parent)
    : QObject(parent)
    , path(path)
    , pool(QString(), capacity, limits, std::move(handler))
{
    resume.setSingleShot(true);
    resume.setInterval(pauseAfterFailureMs);
    connect(&resume, &QTimer::timeout, this, [this] { notifier->setEnabled(true); });
}

SocketServer::~SocketServer()
{
    close();
}

bool SocketServer::listen(QString *error)
{
    const QByteArray file = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(file.size()) >= sizeof address.sun_path) {
        *error = QStringLiteral("%1 is too long for a socket").arg(path);
        return false;
    }
    std::memcpy(address.sun_path, file.constData(), size_t(file.size()));

    struct stat status;
    if (::lstat(file.constData(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode)) {
            *error = QStringLiteral("%1 exists and is not a socket").arg(path);
            return false;
        }
        ::unlink(file.constData());
    }
    descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // The socket is its owner's alone whatever the umask: whoever can
    // connect can pair a device. No one can connect before listen().
    if (descriptor < 0 ||
        ::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(file.constData(), S_IRUSR | S_IWUSR) != 0 || ::listen(descriptor, 128) != 0) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(path, systemError());
        close();
        return false;
    }
    notifier.reset(new QSocketNotifier(descriptor, QSocketNotifier::Read));
    connect(notifier.get(), &QSocketNotifier::activated, this, &SocketServer::acceptPending);
    return true;
}

void SocketServer::close()
{
    if (descriptor < 0)
        return;
    notifier.reset();
    ::close(descriptor);
    descriptor = -1;
    ::unlink(QFile::encodeName(path).constData());
}

void SocketServer::acceptPending()
{
    for (int taken = 0; taken < pool.acceptsPerTurn(); ++taken) {
        const int client = ::accept4(descriptor, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            if (!failing)
                daemonLog(QStringLiteral("cannot accept a connection on %1: %2; trying again")
                              .arg(path, systemError()));
            failing = true;
            notifier->setEnabled(false);
            resume.start();
            return;
        }
        if (failing)
            daemonLog(QStringLiteral("accepting connections on %1 again").arg(path));
        failing = false;
        auto *socket = new QLocalSocket;
        socket->setSocketDescriptor(client);
        pool.adopt(socket);
    }
}

} // namespace zorvid
