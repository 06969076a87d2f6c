// How fast a paired phone gets the library from zorvid: the dashboard's
// first page and a search, from the request to the last byte, with a
// library of BOOKS books; the add-on's own request while a phone browses;
// zorvid's resident memory after them; and a book's download against
// reading the same file with cat. Run it inside the mount
// namespace:
//   scripts/isolate build/bench/zorvid/bench-dashboard [BOOKS] [REQUESTS]
// With ZORVI_ZORVID=build-armhf/emulated/zorvid it measures the reader's
// build under qemu-arm (its resident memory then includes the emulator's).

#include "benchdaemon.h"
#include "daemon/daemonclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

quint16 port = 0;

// One request on a fresh connection, read to its end; the reply's bytes
// (head and body) and how long it took, in microseconds.
struct Timed {
    qint64 bytes = 0;
    qint64 micros = 0;
    QByteArray start;
};

Timed exchange(const QByteArray &request)
{
    QElapsedTimer clock;
    clock.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Timed timed;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size()) {
        static std::vector<char> buffer(1 << 20);
        ssize_t got;
        while ((got = ::recv(fd, buffer.data(), buffer.size(), 0)) > 0) {
            if (timed.start.size() < 512)
                timed.start += QByteArray(buffer.data(), int(qMin<ssize_t>(got, 512)));
            timed.bytes += got;
        }
    }
    ::close(fd);
    timed.micros = clock.nsecsElapsed() / 1000;
    return timed;
}

QByteArray get(const QByteArray &target, const QByteArray &token)
{
    return "GET " + target +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept-Language: en\r\n"
           "Cookie: zorvi_device=" +
           token + "\r\n\r\n";
}

// The token a browser gets when it pairs.
QByteArray pair()
{
    const QByteArray code =
        zorvi::DaemonClient().startPairing().json.object().value("code").toString().toLatin1();
    const QByteArray form = "code=" + code + "&name=Bench";
    const Timed reply = exchange("POST /pair HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                                 "application/x-www-form-urlencoded\r\nContent-Length: " +
                                 QByteArray::number(form.size()) + "\r\n\r\n" + form);
    const int at = reply.start.indexOf("zorvi_device=");
    return at < 0 ? QByteArray() : reply.start.mid(at + 13).split(';').first();
}

double percentile(std::vector<qint64> values, double share)
{
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, size_t(share * double(values.size())))) / 1000.0;
}

// Median and 95th percentile of REQUESTS requests of TARGET, in ms.
bool measure(const char *what, const QByteArray &target, const QByteArray &token, int requests)
{
    std::vector<qint64> times;
    qint64 bytes = 0;
    for (int i = 0; i < requests; ++i) {
        const Timed timed = exchange(get(target, token));
        if (!timed.start.startsWith("HTTP/1.1 200")) {
            std::fprintf(stderr, "%s: %s\n", what, timed.start.left(80).constData());
            return false;
        }
        times.push_back(timed.micros);
        bytes = timed.bytes;
    }
    std::printf("%-34s median %6.1f ms   95th percentile %6.1f ms   (%lld bytes)\n", what,
                percentile(times, 0.5), percentile(times, 0.95), static_cast<long long>(bytes));
    return true;
}

// The add-on's own request, GET /pairing on the daemon's socket, every 10 ms
// for 20 s while a phone pages, sorts and searches as fast as it gets
// replies, in languages that each sort the library their own way.
bool measurePairingWhileBrowsing(const QByteArray &token)
{
    std::atomic<bool> browsing{true};
    std::atomic<int> pages{0};
    std::atomic<int> failures{0};
    std::thread phone([&] {
        const char *const languages[] = {"en", "de", "fr", "sv", "ja"};
        const char *const targets[] = {"/?page=%1", "/?sort=title&page=%1", "/?sort=author&page=%1",
                                       "/?q=river+%1"};
        for (int i = 0; browsing; ++i) {
            const QByteArray target =
                QString::fromLatin1(targets[i % 4]).arg(i % 40 + 1).toLatin1();
            const QByteArray request =
                "GET " + target +
                " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept-Language: " + languages[i / 4 % 5] +
                "\r\nCookie: zorvi_device=" + token + "\r\n\r\n";
            const Timed reply = exchange(request);
            ++(reply.start.startsWith("HTTP/1.1 200") ? pages : failures);
        }
    });
    std::vector<qint64> times;
    QElapsedTimer clock;
    clock.start();
    bool answered = true;
    while (clock.elapsed() < 20000) {
        QElapsedTimer one;
        one.start();
        answered = answered && zorvi::DaemonClient().pairingStatus().status == 200;
        times.push_back(one.nsecsElapsed() / 1000);
        QThread::msleep(10);
    }
    browsing = false;
    phone.join();
    if (!answered || failures > 0) {
        std::fprintf(stderr, "GET /pairing failed, or %d pages failed\n", int(failures));
        return false;
    }
    std::printf("GET /pairing while a phone browses   median %6.1f ms   99th percentile %6.1f ms"
                "   at most %.1f ms   (%zu requests; the phone got %d pages)\n",
                percentile(times, 0.5), percentile(times, 0.99),
                *std::max_element(times.begin(), times.end()) / 1000.0, times.size(), int(pages));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int books = argc > 1 ? QByteArray(argv[1]).toInt() : 5000;
    const int requests = argc > 2 ? QByteArray(argv[2]).toInt() : 200;
    QTemporaryDir state;
    QTemporaryDir storage;
    const QString database =
        QDir(storage.path()).filePath(QStringLiteral(".kobo/KoboReader.sqlite"));
    QDir().mkpath(QDir(storage.path()).filePath(QStringLiteral(".kobo")));
    if (QProcess::execute(QStringLiteral("python3"),
                          {QStringLiteral(MAKELIBRARY), database, QString::number(books),
                           QStringLiteral("--storage"), storage.path()}) != 0)
        return 1;

    // A book of 256 MiB, as a large PDF may be.
    const QString large = QDir(storage.path()).filePath(QStringLiteral("Books/Large.pdf"));
    QProcess::execute(
        QStringLiteral("sh"),
        {QStringLiteral("-c"),
         QStringLiteral("head -c 268435456 /dev/urandom > '%1' && python3 -c \"import "
                        "sqlite3,sys; d=sqlite3.connect(sys.argv[1]); d.execute("
                        "\\\"INSERT INTO content (ContentID, ContentType, MimeType, "
                        "Title, ___UserID, IsDownloaded) VALUES ('file:///mnt/onboard/"
                        "Books/Large.pdf', '6', 'application/pdf', 'Large', '', 1)\\\")"
                        "; d.commit()\" '%2'")
             .arg(large, database)});

    BenchDaemon daemon(state.path());
    if (!daemon.start({QStringLiteral("--storage"), storage.path()}))
        return 1;
    port = quint16(QUrl(daemon.phoneAddress()).port());
    const QByteArray token = pair();
    if (token.isEmpty()) {
        std::fprintf(stderr, "pairing failed\n");
        return 1;
    }
    const qint64 before = daemon.residentKiB();
    std::printf("zorvid with %d books in Nickel's database, %d requests each:\n", books, requests);
    if (!measure("the dashboard's first page", "/", token, requests) ||
        !measure("a search (\"river\")", "/?q=river", token, requests) ||
        !measure("page 50 in order of title", "/?sort=title&page=50", token, requests))
        return 1;
    if (!measurePairingWhileBrowsing(token))
        return 1;
    std::printf("resident memory: %.1f MiB after starting, %.1f MiB after the requests "
                "(%.1f MiB its own, %.1f MiB of mapped files)\n",
                before / 1024.0, daemon.residentKiB() / 1024.0,
                daemon.residentKiB("RssAnon") / 1024.0, daemon.residentKiB("RssFile") / 1024.0);

    // Both from the page cache: cat reads the file once before either is timed.
    const auto cat = [&] {
        QElapsedTimer clock;
        clock.start();
        QProcess::execute(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("cat '%1' > /dev/null").arg(large)});
        return clock.nsecsElapsed() / 1e9;
    };
    cat();
    const double catSeconds = cat();
    const QByteArray target =
        "/download?id=" +
        QUrl::toPercentEncoding(QStringLiteral("file:///mnt/onboard/Books/Large.pdf"));
    const Timed download = exchange(get(target, token));
    const double mib = 256.0;
    std::printf("a 256 MiB download: %.0f MiB/s over loopback; cat of the file: %.0f MiB/s "
                "(%.2f of cat's speed; %lld bytes received)\n",
                mib / (download.micros / 1e6), mib / catSeconds,
                catSeconds / (download.micros / 1e6), static_cast<long long>(download.bytes));
    std::printf("resident memory after the download: %.1f MiB\n", daemon.residentKiB() / 1024.0);
    return daemon.stop() ? 0 : 1;
}
