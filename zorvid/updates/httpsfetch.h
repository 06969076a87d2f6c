#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>
#include <QUrl>

#include <atomic>

namespace zorvid {

// One HTTPS GET on a thread of its own, so that neither the network nor the
// TLS handshake's arithmetic holds up zorvid's sockets. The server's
// certificate must chain to the given authorities and name the address's
// host; a redirect is followed only to https on the same host. Every wait
// for the server is bounded, and so is the whole exchange. The body goes to
// memory or is appended to a file, which then holds exactly the bytes
// received; a reply over its bound is cut off and refused. finished() tells
// that it is over; result() then says how.
class HttpsFetch : public QThread {
    Q_OBJECT
public:
    struct Request {
        QUrl url;
        QByteArray rootsPem;
        // A body larger than this is refused.
        qint64 maxBytes = 0;
        // Empty: the body is kept in memory. Else the body is appended to
        // this file, which is first cut to OFFSET bytes; with an OFFSET, the
        // rest from there is asked for (a byte range), and a server that
        // sends the whole instead starts the file again.
        QString file;
        qint64 offset = 0;
        // The longest wait for the server, and for the whole exchange.
        int waitMs = 30000;
        int wholeMs = 600000;
    };

    enum class Outcome {
        Done,
        // The network failed: what was received may be resumed.
        Interrupted,
        // The server or its reply is not to be trusted or used.
        Refused,
        // The file cannot be written.
        StorageFailed,
        Cancelled,
    };

    struct Result {
        Outcome outcome = Outcome::Cancelled;
        QString error;
        int status = 0;
        QByteArray body;
        // For a file: its SHA-256 as it lies on the storage once done.
        QByteArray sha256;
    };

    explicit HttpsFetch(const Request &request, QObject *parent = nullptr);
    // Cancels and waits for the thread.
    ~HttpsFetch() override;

    void cancel() { cancelled = true; }
    // Bytes of the body held so far (with the offset kept).
    qint64 held() const { return bytesHeld; }
    // Valid once finished() was emitted.
    const Result &result() const { return outcome; }

protected:
    void run() override;

private:
    Request request;
    Result outcome;
    std::atomic<bool> cancelled{false};
    std::atomic<qint64> bytesHeld{0};
};

} // namespace zorvid
