#include "http/socketserver.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace zorvid {

SocketServer::SocketServer(const QString &path, int capacity, const ConnectionLimits &limits,
                           HttpConnection::Handler handler, QObject *parent)
    : QObject(parent)
    , path(path)
    , listener(path, QString(), capacity, limits, std::move(handler))
{
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
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // The socket is its owner's alone whatever the umask: whoever can
    // connect can pair a device. No one can connect before listen().
    const bool bound = descriptor >= 0 && ::bind(descriptor, reinterpret_cast<sockaddr *>(&address),
                                                 sizeof address) == 0;
    if (!bound || ::chmod(file.constData(), S_IRUSR | S_IWUSR) != 0 ||
        ::listen(descriptor, SOMAXCONN) != 0) {
        *error = QStringLiteral("cannot listen on %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (descriptor >= 0)
            ::close(descriptor);
        if (bound)
            ::unlink(file.constData());
        return false;
    }
    listener.start(descriptor);
    listening = true;
    return true;
}

void SocketServer::close()
{
    if (!listening)
        return;
    listener.close();
    ::unlink(QFile::encodeName(path).constData());
    listening = false;
}

} // namespace zorvid
