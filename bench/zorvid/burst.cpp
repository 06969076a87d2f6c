// zorvid under a burst: CONNECTIONS (default 2000) connections opened at once
// on its local socket and as many on its pairing port, held idle for 3 s and
// then closed, while the add-on's GET /pairing and a phone's GET /pair are
// asked every 10 ms. Reports zorvid's open descriptors and resident memory
// before, during and after, and how long the ordinary requests waited.
// Starts and stops zorvid itself; run it in a private mount namespace:
//   scripts/isolate build/bench/zorvid/bench-zorvid-burst [CONNECTIONS]

#include "benchdaemon.h"
#include "daemon/daemonclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// A thread that runs WORK (QThread::create() came with Qt 5.10).
class FunctionThread : public QThread {
public:
    explicit FunctionThread(std::function<void()> work)
        : work(std::move(work))
    {
    }

protected:
    void run() override { work(); }

private:
    std::function<void()> work;
};

const char socketPath[] = "/tmp/zorvid.sock";

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A connection that is made and then says nothing; -1 if it could not be
// made. The local socket's queue may be full for a moment: it is tried again
// for at most 100 ms.
int idleConnection(bool local, quint16 port)
{
    const int fd = ::socket(local ? AF_UNIX : AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int result = -1;
    if (!local) {
        const sockaddr_in address = loopback(port);
        result = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        if (result != 0 && errno == EINPROGRESS)
            result = 0;
    } else {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, socketPath);
        QElapsedTimer clock;
        clock.start();
        while ((result = ::connect(fd, reinterpret_cast<const sockaddr *>(&address),
                                   sizeof address)) != 0 &&
               errno == EAGAIN && clock.elapsed() < 100)
            ::usleep(200);
    }
    if (result == 0)
        return fd;
    ::close(fd);
    return -1;
}

// GET /pair as a phone sends it; true when "200" came back within 5 s.
bool phoneRequest(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval bound{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    const sockaddr_in address = loopback(port);
    const char request[] = "GET /pair HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    char reply[16] = {};
    const bool answered =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
        ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) == ssize_t(sizeof request - 1) &&
        ::recv(fd, reply, sizeof reply - 1, MSG_WAITALL) > 12 &&
        std::strncmp(reply, "HTTP/1.1 200 ", 13) == 0;
    ::close(fd);
    return answered;
}

struct Waits {
    std::vector<qint64> micros;
    int failed = 0;

    void add(qint64 us, bool ok)
    {
        micros.push_back(us);
        failed += ok ? 0 : 1;
    }
    QString summary()
    {
        std::sort(micros.begin(), micros.end());
        if (micros.empty())
            return QStringLiteral("none");
        const auto at = [this](double p) {
            return double(micros[size_t(p * double(micros.size() - 1))]) / 1000.0;
        };
        return QStringLiteral("%1 asked, %2 failed; median %3 ms, 99th percentile %4 ms, max %5 ms")
            .arg(micros.size())
            .arg(failed)
            .arg(at(0.5), 0, 'f', 2)
            .arg(at(0.99), 0, 'f', 2)
            .arg(at(1.0), 0, 'f', 2);
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    const int connections = qBound(1, argc > 1 ? QByteArray(argv[1]).toInt() : 2000, 50000);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < rlim_t(2 * connections + 64)) {
        std::fprintf(stderr, "bench-zorvid-burst: %d connections need more open files than %lu\n",
                     2 * connections, static_cast<unsigned long>(files.rlim_cur));
        return 2;
    }

    QTemporaryDir state(QStringLiteral("/tmp/bench-zorvid-XXXXXX"));
    BenchDaemon daemon(state.path());
    if (!state.isValid() || !daemon.start())
        return 1;
    const quint16 port = quint16(QUrl(daemon.phoneAddress()).port());
    QThread::msleep(200);
    const int filesBefore = daemon.openFiles();
    const qint64 memoryBefore = daemon.residentKiB();

    std::atomic<bool> running{true};
    Waits local;
    Waits phone;
    // A QThread: the daemon client's socket wants one.
    QThread *asker = new FunctionThread([&] {
        const zorvi::DaemonClient client;
        QElapsedTimer clock;
        while (running) {
            clock.start();
            const bool localOk = client.pairingStatus().status == 200;
            local.add(clock.nsecsElapsed() / 1000, localOk);
            clock.start();
            const bool phoneOk = phoneRequest(port);
            phone.add(clock.nsecsElapsed() / 1000, phoneOk);
            QThread::msleep(10);
        }
    });
    asker->start();

    QElapsedTimer clock;
    clock.start();
    std::vector<int> held;
    int refused = 0;
    for (int i = 0; i < 2 * connections; ++i) {
        const int fd = idleConnection(i % 2 == 0, port);
        if (fd < 0)
            ++refused;
        else
            held.push_back(fd);
    }
    const qint64 openingMs = clock.elapsed();
    int filesMost = 0;
    qint64 memoryMost = 0;
    clock.start();
    while (clock.elapsed() < 3000) {
        filesMost = std::max(filesMost, daemon.openFiles());
        memoryMost = std::max(memoryMost, daemon.residentKiB());
        QThread::msleep(20);
    }
    for (const int fd : held)
        ::close(fd);
    QThread::msleep(2000);
    running = false;
    asker->wait();
    delete asker;
    const int filesAfter = daemon.openFiles();
    const qint64 memoryAfter = daemon.residentKiB();
    const bool stopped = daemon.stop();

    std::printf("%d connections on the local socket and %d on the pairing port, opened in "
                "%lld ms (%d not made), held 3 s\n",
                connections, connections, static_cast<long long>(openingMs), refused);
    std::printf("zorvid's descriptors:   %d before, at most %d during, %d after\n", filesBefore,
                filesMost, filesAfter);
    std::printf("zorvid's resident KiB:  %lld before, at most %lld during, %lld after\n",
                static_cast<long long>(memoryBefore), static_cast<long long>(memoryMost),
                static_cast<long long>(memoryAfter));
    std::printf("GET /pairing meanwhile: %s\n", qPrintable(local.summary()));
    std::printf("GET /pair meanwhile:    %s\n", qPrintable(phone.summary()));
    std::printf("zorvid stopped cleanly on SIGTERM: %s\n", stopped ? "yes" : "no");
    const bool withinASecond = local.failed == 0 && phone.failed == 0 && !local.micros.empty() &&
                               local.micros.back() < 1000000 && !phone.micros.empty() &&
                               phone.micros.back() < 1000000;
    return withinASecond && stopped ? 0 : 1;
}
