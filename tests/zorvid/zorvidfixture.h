#pragma once

// zorvid as a child process of a test, raw exchanges with it, and
// zorvid-phone playing the other device.

#include "plugin/devicepaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>

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

    // Starts it with ARGUMENTS, the state folder and a free pairing port (the
    // suites share the loopback interface), and waits at most 5 s for its
    // start line; the log is shown if it does not come.
    bool start(QStringList arguments = {})
    {
        errors.clear();
        process.start(ZORVID, arguments << "--state-dir" << state.path() << "--phone-port"
                                        << "0");
        static const QRegularExpression ready("listening on \\S+, pairing at (\\S+),");
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
        ::kill(pid_t(process.processId()), SIGTERM);
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
    QString clientsFile() const { return state.filePath("clients.json"); }

    QProcess process;
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
};

// Sends BYTES as they are, on the daemon's socket or, given a PORT, to the
// pairing endpoint, and reads until the other side closes (at most 3 s).
inline RawReply exchange(const QByteArray &bytes, quint16 port = 0)
{
    QLocalSocket local;
    QTcpSocket tcp;
    QIODevice *socket = port == 0 ? static_cast<QIODevice *>(&local) : &tcp;
    if (port == 0)
        local.connectToServer(zorvi::daemonSocket);
    else
        tcp.connectToHost(QHostAddress::LocalHost, port);
    if (port == 0 ? !local.waitForConnected(3000) : !tcp.waitForConnected(3000))
        return RawReply();
    socket->write(bytes);
    QElapsedTimer clock;
    clock.start();
    QByteArray received;
    while (clock.elapsed() < 3000 && socket->waitForReadyRead(int(3000 - clock.elapsed())))
        received += socket->readAll();
    if (socket->isOpen())
        received += socket->readAll();

    const auto header = [&received](const QByteArray &name) {
        const int start = received.indexOf("\r\n" + name + ": ");
        return start < 0 ? QByteArray() : received.mid(start + name.size() + 4).split('\r').first();
    };
    RawReply reply;
    const int end = received.indexOf("\r\n\r\n");
    if (!received.startsWith("HTTP/1.1 ") || end < 0)
        return reply;
    reply.head = received.left(end);
    reply.body = received.mid(end + 4);
    reply.status = received.mid(9, 3).toInt();
    const QByteArray length = header("Content-Length");
    const QByteArray type = header("Content-Type");
    reply.framed = (reply.status == 204 ? length.isNull() && reply.body.isEmpty()
                                        : length == QByteArray::number(reply.body.size())) &&
                   (reply.body.isEmpty() || !type.isEmpty()) &&
                   (type != "application/json" || !QJsonDocument::fromJson(reply.body).isNull()) &&
                   header("Connection") == "close";
    return reply;
}

// A request as the add-on's client writes it.
inline QByteArray addOnRequest(const QByteArray &method, const QByteArray &path)
{
    return method + ' ' + path +
           " HTTP/1.1\r\nHost: zorvid\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

// One run of zorvid-phone, in which the device NAME submits CODE at URL (the
// code from the URL's fragment when CODE is null): its exit code (-1 when it
// did not end within 10 s) and its output.
struct PhoneRun {
    int exitCode = -1;
    QString output;
};

inline PhoneRun runPhone(const QString &url, const QString &code, const QString &name)
{
    QProcess phone;
    phone.setProcessChannelMode(QProcess::MergedChannels);
    phone.start(ZORVID_PHONE, QStringList{"--name", name, url} +
                                  (code.isNull() ? QStringList() : QStringList{"--code", code}));
    if (!phone.waitForFinished(10000)) {
        phone.kill();
        phone.waitForFinished(1000);
        return PhoneRun();
    }
    return {phone.exitStatus() == QProcess::NormalExit ? phone.exitCode() : -1,
            QString::fromUtf8(phone.readAll()).trimmed()};
}
