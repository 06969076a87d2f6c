#pragma once

#include "httpreply.h"
#include "requestreader.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QIODevice;

namespace zorvid {

struct ConnectionLimits {
    // Request line and header fields together.
    int headBytes = 8 * 1024;
    int bodyBytes = 8 * 1024;
    // From the connection to the end of the request.
    int requestTimeoutMs = 5000;
    // From the reply to the close, for a peer that does not read it.
    int lingerMs = 2000;
};

// One connection that carries one request and one reply: it reads the
// request as it arrives, answers it through the handler, closes, and deletes
// itself. A client that sends too much gets 413, one that is too slow 408,
// and neither holds up any other connection.
class HttpConnection : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<HttpReply(const HttpRequest &)>;

    // SOCKET is a connected QLocalSocket or QTcpSocket; the connection
    // becomes its parent. LOG_PREFIX starts every log line it writes.
    HttpConnection(QIODevice *socket, const QString &logPrefix, const ConnectionLimits &limits,
                   Handler handler, QObject *parent);

    // Answers at once, before the request has come in: for a connection
    // over the limit.
    void refuse(const HttpReply &reply);

private:
    void readAvailable();
    void send(const HttpReply &reply);
    void close();
    void deadlinePassed();
    void finish();

    QIODevice *socket;
    QString logPrefix;
    ConnectionLimits limits;
    Handler handler;
    RequestReader reader;
    // The first bytes received, to show in the log line of a bad request.
    QByteArray opening;
    QTimer deadline;
    bool replied = false;
    // Answered by refuse(): still reading the request before closing.
    bool refusing = false;
    bool finished = false;
    std::function<void()> afterSent;
};

} // namespace zorvid
