// zorvid run as a process of the test's, and the means of talking to it
// that its suites share: raw exchanges on its socket and its port, and the
// add-on's own client.
#pragma once

#include "daemon/daemonclient.h"
#include "filecontent.h"
#include "plugin/devicepaths.h"
#include "processid.h"

#include <QHostAddress>
#include <QLocalSocket>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using zorvi::DaemonClient;

// zorvid with a state folder of its own that outlives restarts, and its log
// collected. Stopped when the object goes away.
class Zorvid {
public:
    Zorvid() { process.setReadChannel(QProcess::StandardError); }
    ~Zorvid()
    {
        if (process.state() != QProcess::NotRunning)
            stop();
    }

    // Starts it with ARGUMENTS, the state folder (unless they name one) and
    // a free pairing port (the suites share the loopback interface), through
    // LAUNCHER if set, and waits at most 5 s for its start line; the log is
    // shown if it does not come.
    bool start(QStringList arguments = {})
    {
        errors.clear();
        if (!arguments.contains("--state-dir"))
            arguments << "--state-dir" << state.path();
        // Not on the machine's own network.
        if (!arguments.contains("--listen"))
            arguments << "--listen"
                      << "127.0.0.1";
        arguments = launcher + QStringList{ZORVID} + arguments << "--phone-port"
                                                               << "0";
        process.start(arguments.takeFirst(), arguments);
        static const QRegularExpression ready(
            "listening on \\S+, pairing (?:at (\\S+),|on port \\d+ once)");
        QElapsedTimer clock;
        clock.start();
        while (process.waitForStarted(5000) && clock.elapsed() < 5000) {
            const QRegularExpressionMatch match = ready.match(log());
            if (match.hasMatch()) {
                phoneAddress = match.captured(1);
                return true;
            }
            process.waitForReadyRead(100);
        }
        std::fprintf(stderr, "zorvid did not start:\n%s\n", qPrintable(log()));
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    // SIGTERM; true when it ended with status 0 and removed its socket file.
    bool stop()
    {
        ::kill(pid_t(processIdOf(process)), SIGTERM);
        return waitForExit() && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0 && !QFile::exists(zorvi::daemonSocket);
    }
    bool waitForExit()
    {
        process.waitForFinished(5000);
        log();
        return process.state() == QProcess::NotRunning;
    }
    QString log()
    {
        errors += process.readAllStandardError();
        return QString::fromUtf8(errors);
    }
    QString clientsFile() const { return QDir(state.path()).filePath("clients.json"); }
    qint64 residentKiB() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(processIdOf(process)));
        status.open(QIODevice::ReadOnly);
        const QByteArray text = status.readAll();
        const int start = text.indexOf("VmRSS:");
        return start < 0 ? 0 : text.mid(start + 6).trimmed().split(' ').first().toLongLong();
    }
    // The descriptors it has open.
    QStringList descriptors() const
    {
        return QDir(QStringLiteral("/proc/%1/fd").arg(processIdOf(process)))
            .entryList(QDir::Files | QDir::System);
    }
    int openFiles() const { return descriptors().size(); }
    // The next descriptor it would open, with its limit high enough.
    int lowestFreeDescriptor() const
    {
        const QStringList open = descriptors();
        int free = 0;
        while (open.contains(QString::number(free)))
            ++free;
        return free;
    }

    QProcess process;
    QStringList launcher;
    QTemporaryDir state{QDir::temp().filePath("zorvid-state-XXXXXX")};
    // "http://127.0.0.1:PORT/pair", as the start line reports it.
    QString phoneAddress;

private:
    QByteArray errors;
};

// A reply read from the wire. FRAMED when "Content-Length" matches the body
// (absent on 204), a body has a "Content-Type" (and is JSON when it says so),
// and the reply says "Connection: close".
struct RawReply {
    int status = 0;
    QByteArray head;
    QByteArray body;
    bool framed = false;

    // The value of the header field NAME, as sent; null when there is none.
    QByteArray header(const QByteArray &name) const
    {
        const int start = head.indexOf("\r\n" + name + ": ");
        return start < 0 ? QByteArray() : head.mid(start + name.size() + 4).split('\r').first();
    }
};

// Sends BYTES as they are, on the daemon's socket or, given a PORT, to the
// pairing endpoint from the address FROM, and reads until the other side
// closes (at most 3 s).
inline RawReply exchange(const QByteArray &bytes, quint16 port = 0,
                         const QHostAddress &from = QHostAddress())
{
    QByteArray received;
    if (!from.isNull()) {
        // Qt 5.2's socket forgets an address it was bound to when it connects.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(from.toIPv4Address());
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const timeval wait{3, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source) == 0 &&
            ::connect(fd, reinterpret_cast<sockaddr *>(&target), sizeof target) == 0 &&
            ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size()) {
            char chunk[4096];
            ssize_t got;
            while ((got = ::recv(fd, chunk, sizeof chunk, 0)) > 0)
                received.append(chunk, int(got));
        }
        ::close(fd);
    } else {
        QLocalSocket local;
        QTcpSocket tcp;
        QIODevice *socket = port == 0 ? static_cast<QIODevice *>(&local) : &tcp;
        if (port == 0)
            local.connectToServer(zorvi::daemonSocket);
        else
            tcp.connectToHost(QHostAddress::LocalHost, port);
        if (!(port == 0 ? local.waitForConnected(3000) : tcp.waitForConnected(3000)))
            return RawReply();
        socket->write(bytes);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000 && socket->waitForReadyRead(int(3000 - clock.elapsed())))
            received += socket->readAll();
        if (socket->isOpen())
            received += socket->readAll();
    }

    RawReply reply;
    const int end = received.indexOf("\r\n\r\n");
    if (!received.startsWith("HTTP/1.1 ") || end < 0)
        return reply;
    reply.head = received.left(end);
    reply.body = received.mid(end + 4);
    reply.status = received.mid(9, 3).toInt();
    const QByteArray length = reply.header("Content-Length");
    const QByteArray type = reply.header("Content-Type");
    reply.framed = (reply.status == 204 ? length.isNull() && reply.body.isEmpty()
                                        : length == QByteArray::number(reply.body.size())) &&
                   (reply.body.isEmpty() || !type.isEmpty()) &&
                   (type != "application/json" || !QJsonDocument::fromJson(reply.body).isNull()) &&
                   reply.header("Connection") == "close";
    return reply;
}

// A blocking (or with FLAGS, say, non-blocking) connection to the daemon's
// socket or, given a PORT, to the pairing endpoint, as the system makes it.
inline int rawConnection(quint16 port, int flags)
{
    const int fd = ::socket(port == 0 ? AF_UNIX : AF_INET, SOCK_STREAM | flags, 0);
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    std::strcpy(local.sun_path, zorvi::daemonSocket);
    sockaddr_in tcp{};
    tcp.sin_family = AF_INET;
    tcp.sin_port = htons(port);
    tcp.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (port == 0)
        ::connect(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    else
        ::connect(fd, reinterpret_cast<sockaddr *>(&tcp), sizeof tcp);
    return fd;
}

// A request as the add-on's client writes it.
inline QByteArray addOnRequest(const QByteArray &method, const QByteArray &path)
{
    return method + ' ' + path +
           " HTTP/1.1\r\nHost: zorvid\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

// A request as a phone's browser sends it to the pairing port, with FIELDS.
inline QByteArray phoneRequest(const QByteArray &method, const QByteArray &target,
                               const QByteArray &fields = QByteArray())
{
    return method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + fields + "\r\n";
}

inline QByteArray headed(const QByteArray &requestLine, const QByteArray &fields = QByteArray())
{
    return requestLine + "\r\n" + fields + "\r\n";
}

inline QString text(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toString();
}

inline QJsonObject pairingState()
{
    return DaemonClient().pairingStatus().json.object();
}

inline QJsonObject newOffer()
{
    return DaemonClient().startPairing().json.object();
}

inline QStringList idsOf(const QJsonArray &clients)
{
    QStringList ids;
    for (const QJsonValue &client : clients)
        ids << client.toObject().value(QLatin1String("id")).toString();
    return ids;
}

inline QStringList listedIds()
{
    return idsOf(DaemonClient().listClients().json.array());
}
