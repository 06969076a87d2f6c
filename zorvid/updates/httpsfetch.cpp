#include "updates/httpsfetch.h"

#include "updates/filehash.h"
#include "updates/versions.h"

#include <QFile>
#include <QList>

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/error.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zorvid {

namespace {

using Clock = std::chrono::steady_clock;
using Outcome = HttpsFetch::Outcome;

constexpr int maxHeadBytes = 16 * 1024;
constexpr int maxRedirects = 3;

QString mbedError(int code)
{
    char text[160];
    mbedtls_strerror(code, text, sizeof text);
    return QString::fromLatin1(text);
}

// A failure: how it counts and what the log says.
struct Failure {
    Outcome outcome = Outcome::Done;
    QString error;

    bool set(Outcome kind, const QString &reason)
    {
        if (outcome == Outcome::Done) {
            outcome = kind;
            error = reason;
        }
        return false;
    }
};

// The bounds of every wait: the one for each wait, the end of the whole
// exchange, and the caller's cancellation, looked at five times a second.
struct Bounds {
    int waitMs;
    Clock::time_point end;
    const std::atomic<bool> *cancelled;

    // False, with the failure, once cancelled or past the whole bound: looked
    // at before every read and write too, so that a feed that never lets the
    // socket run dry is stopped as well.
    bool inTime(Failure *failure) const
    {
        if (*cancelled)
            return failure->set(Outcome::Cancelled, QStringLiteral("cancelled"));
        // A feed that takes longer than the whole bound is not waited for again.
        if (Clock::now() >= end)
            return failure->set(Outcome::Refused,
                                QStringLiteral("the feed took longer than allowed"));
        return true;
    }

    bool waitFor(int fd, short events, Failure *failure) const
    {
        const Clock::time_point waitEnd = Clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            if (!inTime(failure))
                return false;
            const Clock::time_point now = Clock::now();
            // Silence, as when Wi-Fi goes: what came may be resumed.
            if (now >= waitEnd)
                return failure->set(
                    Outcome::Interrupted,
                    QStringLiteral("the feed did not answer for %1 s").arg(waitMs / 1000.0));
            const auto left = std::min(std::min(waitEnd, end) - now,
                                       Clock::duration(std::chrono::milliseconds(200)));
            pollfd poller = {fd, events, 0};
            const int ready = ::poll(
                &poller, 1,
                int(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1);
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return failure->set(
                    Outcome::Interrupted,
                    QStringLiteral("poll: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        }
    }
};

// A TCP connection with TLS over it, with blocking calls that keep to the
// bounds.
class TlsChannel {
public:
    TlsChannel(const Bounds &bounds, Failure *failure)
        : bounds(bounds)
        , failure(failure)
    {
        mbedtls_ssl_init(&ssl);
        mbedtls_ssl_config_init(&config);
    }
    ~TlsChannel()
    {
        mbedtls_ssl_free(&ssl);
        mbedtls_ssl_config_free(&config);
        if (fd >= 0)
            ::close(fd);
    }
    TlsChannel(const TlsChannel &) = delete;
    TlsChannel &operator=(const TlsChannel &) = delete;

    bool open(const QUrl &url, mbedtls_x509_crt *roots, mbedtls_ctr_drbg_context *random)
    {
        // A name outside ASCII is looked up, sent and checked in its ASCII form.
        const QString host = url.host(QUrl::FullyEncoded);
        if (!connectTo(host, url.port(443)))
            return false;
        int status =
            mbedtls_ssl_config_defaults(&config, MBEDTLS_SSL_IS_CLIENT,
                                        MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT);
        if (status == 0) {
            mbedtls_ssl_conf_authmode(&config, MBEDTLS_SSL_VERIFY_REQUIRED);
            mbedtls_ssl_conf_ca_chain(&config, roots, nullptr);
            mbedtls_ssl_conf_rng(&config, mbedtls_ctr_drbg_random, random);
            mbedtls_ssl_conf_min_version(&config, MBEDTLS_SSL_MAJOR_VERSION_3,
                                         MBEDTLS_SSL_MINOR_VERSION_3);
            status = mbedtls_ssl_setup(&ssl, &config);
        }
        // The host name is both sent (SNI) and what the certificate must name.
        if (status == 0)
            status = mbedtls_ssl_set_hostname(&ssl, host.toLatin1().constData());
        if (status != 0)
            return failure->set(Outcome::Refused,
                                QStringLiteral("TLS cannot be set up: %1").arg(mbedError(status)));
        mbedtls_ssl_set_bio(&ssl, this, &TlsChannel::send, &TlsChannel::receive, nullptr);
        while ((status = mbedtls_ssl_handshake(&ssl)) != 0) {
            if (status == MBEDTLS_ERR_SSL_WANT_READ || status == MBEDTLS_ERR_SSL_WANT_WRITE)
                continue;
            if (status == MBEDTLS_ERR_X509_CERT_VERIFY_FAILED) {
                char info[512];
                mbedtls_x509_crt_verify_info(info, sizeof info, "",
                                             mbedtls_ssl_get_verify_result(&ssl));
                return failure->set(Outcome::Refused,
                                    QStringLiteral("the certificate of %1 is not the feed's: %2")
                                        .arg(host, QString::fromLatin1(info).simplified()));
            }
            return failure->set(Outcome::Refused, QStringLiteral("the TLS handshake with %1 "
                                                                 "failed: %2")
                                                      .arg(host, mbedError(status)));
        }
        return true;
    }

    bool writeAll(const QByteArray &bytes)
    {
        int done = 0;
        while (done < bytes.size()) {
            const int written = mbedtls_ssl_write(
                &ssl, reinterpret_cast<const unsigned char *>(bytes.constData()) + done,
                size_t(bytes.size() - done));
            if (written == MBEDTLS_ERR_SSL_WANT_READ || written == MBEDTLS_ERR_SSL_WANT_WRITE)
                continue;
            if (written < 0)
                return failure->set(Outcome::Interrupted,
                                    QStringLiteral("sending failed: %1").arg(mbedError(written)));
            done += written;
        }
        return true;
    }

    // Bytes read (0 at the end of the stream), or -1 on a failure.
    int read(char *buffer, int size)
    {
        for (;;) {
            const int got =
                mbedtls_ssl_read(&ssl, reinterpret_cast<unsigned char *>(buffer), size_t(size));
            if (got == MBEDTLS_ERR_SSL_WANT_READ || got == MBEDTLS_ERR_SSL_WANT_WRITE)
                continue;
            if (got == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY) {
                notified = true;
                return 0;
            }
            if (got < 0) {
                failure->set(Outcome::Interrupted,
                             QStringLiteral("receiving failed: %1").arg(mbedError(got)));
                return -1;
            }
            return got;
        }
    }

    // Whether the stream ended as the server closes it (TLS's close
    // notification), not cut by the network or someone on the way.
    bool endedCleanly() const { return notified; }

private:
    bool connectTo(const QString &host, int port)
    {
        addrinfo hints = {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        const int resolved = ::getaddrinfo(host.toUtf8().constData(),
                                           QByteArray::number(port).constData(), &hints, &found);
        if (resolved != 0)
            return failure->set(Outcome::Interrupted,
                                QStringLiteral("%1 cannot be resolved: %2")
                                    .arg(host, QString::fromLocal8Bit(gai_strerror(resolved))));
        QString reason;
        for (addrinfo *address = found; address && fd < 0; address = address->ai_next) {
            fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          0);
            if (fd < 0)
                continue;
            Failure wait;
            if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0)
                break;
            int error = errno;
            if (error == EINPROGRESS && bounds.waitFor(fd, POLLOUT, &wait)) {
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error == 0)
                    break;
            }
            reason = wait.outcome == Outcome::Done ? QString::fromLocal8Bit(std::strerror(error))
                                                   : wait.error;
            if (wait.outcome == Outcome::Cancelled)
                failure->set(Outcome::Cancelled, wait.error);
            ::close(fd);
            fd = -1;
        }
        ::freeaddrinfo(found);
        if (fd < 0)
            return failure->set(Outcome::Interrupted,
                                QStringLiteral("%1 cannot be reached: %2").arg(host, reason));
        return true;
    }

    // mbedTLS's ends of the socket: each waits within the bounds for the
    // socket to be ready and reports a failure through the channel.
    static int send(void *context, const unsigned char *bytes, size_t size)
    {
        return static_cast<TlsChannel *>(context)->transfer(
            POLLOUT, MBEDTLS_ERR_NET_SEND_FAILED,
            [bytes, size](int fd) { return ::send(fd, bytes, size, MSG_NOSIGNAL); });
    }

    static int receive(void *context, unsigned char *bytes, size_t size)
    {
        return static_cast<TlsChannel *>(context)->transfer(
            POLLIN, MBEDTLS_ERR_NET_RECV_FAILED,
            [bytes, size](int fd) { return ::recv(fd, bytes, size, 0); });
    }

    template <typename Call> int transfer(short events, int failed, Call call)
    {
        if (!bounds.inTime(failure))
            return failed;
        for (;;) {
            const ssize_t done = call(fd);
            if (done >= 0)
                return int(done);
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                failure->set(Outcome::Interrupted,
                             QStringLiteral("the connection failed: %1")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
                return failed;
            }
            if (!bounds.waitFor(fd, events, failure))
                return failed;
        }
    }

    const Bounds bounds;
    Failure *failure;
    int fd = -1;
    bool notified = false;
    mbedtls_ssl_context ssl;
    mbedtls_ssl_config config;
};

// A reply's status line and header fields.
struct ReplyHead {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> fields;

    QByteArray field(const char *name) const
    {
        for (const auto &entry : fields) {
            if (entry.first == name)
                return entry.second;
        }
        return QByteArray();
    }

    int fieldCount(const char *name) const
    {
        int count = 0;
        for (const auto &entry : fields)
            count += entry.first == name;
        return count;
    }

    bool parse(const QByteArray &head)
    {
        const QList<QByteArray> lines = head.split('\n');
        const QByteArray statusLine = lines.value(0).trimmed();
        if (!statusLine.startsWith("HTTP/1.") || statusLine.size() < 12 ||
            statusLine.at(8) != ' ' || (statusLine.size() > 12 && statusLine.at(12) != ' '))
            return false;
        bool ok = false;
        status = statusLine.mid(9, 3).toInt(&ok);
        if (!ok || status < 100 || status > 599)
            return false;
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const int colon = line.indexOf(':');
            if (line.isEmpty())
                continue;
            if (colon <= 0)
                return false;
            fields.append(
                qMakePair(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()));
        }
        return true;
    }
};

// A whole number of at most 15 digits, or -1.
qint64 byteCount(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 15)
        return -1;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
    }
    return text.toLongLong();
}

// Where the body goes: memory, or the file after its kept bytes. The file
// is opened only for a moment at a time, a quarter MiB at once: the reader's
// storage must be free to leave for a USB session whenever the owner plugs
// a cable in.
class BodySink {
public:
    BodySink(const HttpsFetch::Request &request, QByteArray *memory, std::atomic<qint64> *held,
             Failure *failure)
        : request(request)
        , memory(memory)
        , held(held)
        , failure(failure)
    {
    }

    // Starts after KEEP bytes of what is held (0 or the request's offset).
    bool start(qint64 keep)
    {
        *held = keep;
        memory->clear();
        if (request.file.isEmpty())
            return true;
        const int fd = ::open(QFile::encodeName(request.file).constData(),
                              O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        const bool cut = fd >= 0 && ::ftruncate(fd, keep) == 0;
        if (fd >= 0)
            ::close(fd);
        return cut || storageFailed();
    }

    bool append(const char *bytes, int size)
    {
        if (*held + size > request.maxBytes)
            return failure->set(Outcome::Refused,
                                QStringLiteral("the reply is larger than the %1 bytes expected")
                                    .arg(request.maxBytes));
        QByteArray &target = request.file.isEmpty() ? *memory : pending;
        target.append(bytes, size);
        *held += size;
        return pending.size() < flushBytes || flush();
    }

    // What was received reaches the storage, whatever became of the
    // fetch, so that it can be resumed from there.
    bool flush()
    {
        if (pending.isEmpty())
            return true;
        const int fd =
            ::open(QFile::encodeName(request.file).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0)
            return storageFailed();
        bool written = true;
        for (int done = 0; written && done < pending.size();) {
            const ssize_t count =
                ::write(fd, pending.constData() + done, size_t(pending.size() - done));
            if (count > 0)
                done += int(count);
            else
                written = count < 0 && errno == EINTR;
        }
        written = written && ::fsync(fd) == 0;
        written = ::close(fd) == 0 && written;
        pending.clear();
        return written || storageFailed();
    }

private:
    static constexpr int flushBytes = 256 * 1024;

    bool storageFailed()
    {
        return failure->set(Outcome::StorageFailed,
                            QStringLiteral("%1 cannot be written: %2")
                                .arg(request.file, QString::fromLocal8Bit(std::strerror(errno))));
    }

    const HttpsFetch::Request &request;
    QByteArray *memory;
    std::atomic<qint64> *held;
    Failure *failure;
    QByteArray pending;
};

} // namespace

HttpsFetch::HttpsFetch(const Request &request, QObject *parent)
    : QThread(parent)
    , request(request)
{
}

HttpsFetch::~HttpsFetch()
{
    cancel();
    wait();
}

void HttpsFetch::run()
{
    Failure failure;
    const Bounds bounds{request.waitMs, Clock::now() + std::chrono::milliseconds(request.wholeMs),
                        &cancelled};

    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context random;
    mbedtls_x509_crt roots;
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&random);
    mbedtls_x509_crt_init(&roots);
    static const unsigned char personal[] = "zorvid update";
    int status =
        mbedtls_ctr_drbg_seed(&random, mbedtls_entropy_func, &entropy, personal, sizeof personal);
    if (status != 0)
        failure.set(Outcome::Refused,
                    QStringLiteral("no random bytes for TLS: %1").arg(mbedError(status)));
    // The PEM text is parsed with its terminating zero.
    else if ((status = mbedtls_x509_crt_parse(
                  &roots, reinterpret_cast<const unsigned char *>(request.rootsPem.constData()),
                  size_t(request.rootsPem.size()) + 1)) != 0)
        failure.set(Outcome::Refused, QStringLiteral("the built-in certificate authorities "
                                                     "cannot be read: %1")
                                          .arg(mbedError(status)));

    BodySink sink(request, &outcome.body, &bytesHeld, &failure);
    QUrl url = request.url;
    for (int redirects = 0; failure.outcome == Outcome::Done; ++redirects) {
        TlsChannel channel(bounds, &failure);
        if (!channel.open(url, &roots, &random))
            break;
        QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
        if (target.isEmpty())
            target = "/";
        if (url.hasQuery())
            target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
        QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
        if (url.port() != -1)
            host += ':' + QByteArray::number(url.port());
        QByteArray exchange = "GET " + target + " HTTP/1.1\r\nHost: " + host +
                              "\r\nUser-Agent: zorvid/" + builtVersion().toLatin1() +
                              "\r\nAccept-Encoding: identity\r\nConnection: close\r\n";
        if (request.offset > 0)
            exchange += "Range: bytes=" + QByteArray::number(request.offset) + "-\r\n";
        if (!channel.writeAll(exchange + "\r\n"))
            break;

        // The head, and what of the body came with it.
        QByteArray received;
        char buffer[16 * 1024];
        int headEnd = -1;
        while (headEnd < 0) {
            const int got = channel.read(buffer, sizeof buffer);
            if (got <= 0) {
                if (got == 0 && !received.isEmpty())
                    failure.set(Outcome::Refused, QStringLiteral("the feed's reply is not HTTP"));
                else if (got == 0)
                    failure.set(Outcome::Interrupted,
                                QStringLiteral("the feed closed the connection without a reply"));
                break;
            }
            received.append(buffer, got);
            headEnd = received.indexOf("\r\n\r\n");
            if (headEnd < 0 && received.size() > maxHeadBytes)
                break;
        }
        if (failure.outcome != Outcome::Done)
            break;
        ReplyHead head;
        if (headEnd < 0 || !head.parse(received.left(headEnd))) {
            failure.set(Outcome::Refused, QStringLiteral("the feed's reply is not HTTP"));
            break;
        }
        outcome.status = head.status;
        received.remove(0, headEnd + 4);

        if (head.status >= 300 && head.status < 400 && !head.field("location").isEmpty()) {
            const QUrl next = url.resolved(QUrl::fromEncoded(head.field("location")));
            if (next.scheme() != QLatin1String("https") || next.host() != url.host() ||
                next.port(443) != url.port(443)) {
                failure.set(Outcome::Refused, QStringLiteral("the feed redirected elsewhere, to %1")
                                                  .arg(next.toDisplayString().left(200)));
            } else if (redirects == maxRedirects) {
                failure.set(Outcome::Refused, QStringLiteral("the feed redirected too often"));
            }
            url = next;
            continue;
        }
        if (!head.field("transfer-encoding").isEmpty() &&
            head.field("transfer-encoding").toLower() != "identity") {
            failure.set(Outcome::Refused,
                        QStringLiteral("the feed's reply is in a transfer "
                                       "coding zorvid does not read: %1")
                            .arg(QString::fromLatin1(head.field("transfer-encoding").left(40))));
            break;
        }
        if (head.status == 503) {
            failure.set(Outcome::Interrupted, QStringLiteral("the feed is unavailable (503)"));
            break;
        }
        const QByteArray declared = head.field("content-length");
        const qint64 length = byteCount(declared);
        if ((!declared.isNull() && length < 0) || head.fieldCount("content-length") > 1) {
            failure.set(Outcome::Refused, QStringLiteral("the feed's reply has a broken length"));
            break;
        }
        qint64 keep = 0;
        if (head.status == 206 && request.offset > 0) {
            // "bytes FIRST-LAST/TOTAL", which must go on where the file ends
            // and reach the end of what was asked for.
            const QByteArray range = head.field("content-range");
            const int dash = range.indexOf('-');
            const int slash = range.indexOf('/');
            const qint64 last = byteCount(range.mid(dash + 1, slash - dash - 1));
            const qint64 total = byteCount(range.mid(slash + 1));
            if (!range.startsWith("bytes ") || dash < 0 || slash < dash ||
                byteCount(range.mid(6, dash - 6)) != request.offset || total != request.maxBytes ||
                last != total - 1 || (length >= 0 && length != total - request.offset)) {
                failure.set(Outcome::Refused,
                            QStringLiteral("the feed's range does not go on from byte %1 to the "
                                           "end of %2")
                                .arg(request.offset)
                                .arg(request.maxBytes));
                break;
            }
            keep = request.offset;
        } else if (head.status != 200) {
            failure.set(Outcome::Refused, QStringLiteral("the feed answered %1 for %2")
                                              .arg(head.status)
                                              .arg(url.path().left(200)));
            break;
        }
        if (length > request.maxBytes - keep) {
            failure.set(Outcome::Refused,
                        QStringLiteral("the reply is larger (%1 bytes) than the %2 expected")
                            .arg(length + keep)
                            .arg(request.maxBytes));
            break;
        }
        // Nothing after the declared length is the body's.
        if (length >= 0 && received.size() > length)
            received.truncate(int(length));
        if (!sink.start(keep) || !sink.append(received.constData(), received.size()))
            break;
        qint64 body = received.size();
        while (length < 0 || body < length) {
            const int want = int(length < 0 ? qint64(sizeof buffer)
                                            : qMin<qint64>(sizeof buffer, length - body));
            const int got = channel.read(buffer, want);
            if (got < 0)
                break;
            if (got == 0) {
                // Without a length, only the server's own close ends the body.
                if (length >= 0 || !channel.endedCleanly())
                    failure.set(
                        Outcome::Interrupted,
                        QStringLiteral("the connection dropped after %1 bytes").arg(keep + body));
                break;
            }
            if (!sink.append(buffer, got))
                break;
            body += got;
        }
        break;
    }
    // Kept whatever ended the fetch (Wi-Fi going stops zorvid), for a resume.
    sink.flush();
    if (failure.outcome == Outcome::Done && !request.file.isEmpty()) {
        outcome.sha256 = fileSha256(request.file);
        if (outcome.sha256.isEmpty())
            failure.set(Outcome::StorageFailed,
                        QStringLiteral("%1 cannot be read back").arg(request.file));
    }
    mbedtls_x509_crt_free(&roots);
    mbedtls_ctr_drbg_free(&random);
    mbedtls_entropy_free(&entropy);
    outcome.outcome = failure.outcome;
    outcome.error = failure.error;
}

} // namespace zorvid
