#pragma once

#include "http/httpreply.h"
#include "http/requestreader.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QIODevice;

namespace zorvid {

class LogBudget;

struct ConnectionLimits {
    // Request line and header fields together.
    int headBytes = 8 * 1024;
    int bodyBytes = 8 * 1024;
    // From the connection to the end of the request.
    int requestTimeoutMs = 5000;
    // From the reply to the close, for a peer that does not read the reply
    // or goes on sending.
    int lingerMs = 2000;
    // What a peer may still send after its reply before it is cut off.
    int drainBytes = 1024 * 1024;
    // How long a reply streamed from a file may wait for the peer to take
    // more of it.
    int stallMs = 30000;
    // From a complete request to its reply, when the reply is made
    // elsewhere (a large library read for the first time, say).
    int madeLaterMs = 30000;
    // Log lines of its connections a minute; 0 for no bound.
    int logLinesPerMinute = 0;
};

// One connection that carries one request and one reply: it reads the
// request as it arrives, answers it through the handler and deletes itself
// once the peer has gone. A client that sends too much gets 413, one that is
// too slow 408, and neither holds up any other connection. After the reply
// the connection closes its sending side and reads and drops whatever the
// peer still sends (a refused request may still be on its way), within
// bounds of time and size: closed with unread bytes, a socket is reset, and
// the peer may lose the reply.
class HttpConnection : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<HttpReply(const HttpRequest &)>;

    // SOCKET is a connected QLocalSocket or QTcpSocket; the connection
    // becomes its parent. LOG_PREFIX starts every log line it writes, through
    // BUDGET when there is one.
    HttpConnection(QIODevice *socket, const QString &logPrefix, const ConnectionLimits &limits,
                   Handler handler, LogBudget *budget, QObject *parent);

    bool isAnswered() const { return replied; }
    // Nothing of a request has come, nor waits to be read.
    bool isIdle() const { return !replied && reader.received() == 0 && !bytesWaiting(); }
    // Has its reply and is still sending a file.
    bool isStreaming() const { return fileLeft > 0; }
    // The whole reply has gone to the kernel: only the peer's leaving is
    // awaited, and what it still sends is dropped.
    bool isHandedOver() const { return halfClosed; }
    // Handed over, and the peer sends nothing more: closing loses nothing.
    bool isDone() const { return halfClosed && !bytesWaiting(); }
    // Ends the connection at once, to make room for a newer one; a request
    // not yet answered gets 503 as far as the socket takes it.
    void drop();

private:
    // Bytes of the peer's that have not been read yet.
    bool bytesWaiting() const;
    void readAvailable();
    // Logs the request's line with the reply's status and sends the reply.
    void answer(const HttpRequest &request, const HttpReply &reply);
    void send(const HttpReply &reply);
    // Tops up the socket's buffer from the reply's file.
    void sendMore();
    void closeSendingSideWhenWritten();
    void deadlinePassed();
    void abort();
    void finish();
    void log(const QString &line);

    QIODevice *socket;
    qintptr descriptor;
    QString logPrefix;
    // The network address of the other end; empty on the local socket.
    QString peer;
    ConnectionLimits limits;
    Handler handler;
    LogBudget *budget;
    RequestReader reader;
    // The first bytes received, to show in the log line of a bad request.
    QByteArray opening;
    QTimer deadline;
    bool replied = false;
    // The request is complete and its reply is being made elsewhere.
    bool awaiting = false;
    bool halfClosed = false;
    qint64 drained = 0;
    bool finished = false;
    std::function<void()> afterSent;
    // The file still to send, and how much of it.
    std::shared_ptr<QFile> file;
    qint64 fileLeft = 0;
};

} // namespace zorvid
