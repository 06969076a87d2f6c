// Times exchanges with a local daemon through DaemonClient::request and
// through a plain blocking POSIX client, against the same server in the same
// run, and prints both and their ratio. Uses /tmp/zorvid.sock, so run it in a
// private mount namespace:
//   scripts/isolate build/bench/exchange/bench-exchange [EXCHANGES]

#include "daemon/daemonclient.h"
#include "plugin/devicepaths.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

const char reply[] = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n"
                     "{\"state\":\"idle\",\"version\":\"1.4.2\",\"progress\":0}";
const char request[] =
    "GET /update HTTP/1.1\r\nHost: zorvid\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

sockaddr_un daemonAddress()
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, zorvi::daemonSocket, sizeof address.sun_path - 1);
    return address;
}

// A minimal daemon: reads each request up to its blank line, answers with
// the same small reply and closes, one connection after the other.
class Server {
public:
    bool start()
    {
        ::unlink(zorvi::daemonSocket);
        const sockaddr_un address = daemonAddress();
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (listener < 0 ||
            ::bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(listener, 16) != 0)
            return false;
        thread = std::thread([this] { serve(); });
        return true;
    }

    void stop()
    {
        stopping = true;
        ::shutdown(listener, SHUT_RDWR);
        thread.join();
        ::close(listener);
        ::unlink(zorvi::daemonSocket);
    }

private:
    void serve()
    {
        for (;;) {
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd < 0)
                return;
            if (stopping) {
                ::close(fd);
                return;
            }
            QByteArray received;
            char buffer[512];
            while (!received.contains("\r\n\r\n")) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                received.append(buffer, int(n));
            }
            if (::write(fd, reply, sizeof reply - 1) < 0)
                std::perror("write");
            ::close(fd);
        }
    }

    int listener = -1;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// The least a client can do: connect, write, read to the end, parse.
int rawExchange()
{
    const sockaddr_un address = daemonAddress();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    QByteArray received;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
        ::write(fd, request, sizeof request - 1) == ssize_t(sizeof request - 1)) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            received.append(buffer, int(n));
    }
    ::close(fd);
    return zorvi::parseReply(received).status;
}

int qtExchange()
{
    return zorvi::DaemonClient().request("GET", "/update").status;
}

struct Figures {
    double median;
    double mean;
    int failures;
};

template <typename Exchange> Figures measure(Exchange exchange, int count)
{
    QVector<double> micros;
    micros.reserve(count);
    int failures = 0;
    QElapsedTimer clock;
    for (int i = 0; i < count; ++i) {
        clock.start();
        if (exchange() != 200)
            ++failures;
        micros.append(clock.nsecsElapsed() / 1000.0);
    }
    double sum = 0;
    for (double m : micros)
        sum += m;
    std::sort(micros.begin(), micros.end());
    return {micros.at(count / 2), sum / count, failures};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;

    Server server;
    if (!server.start()) {
        std::fprintf(stderr, "cannot listen on %s: %s\n", zorvi::daemonSocket,
                     std::strerror(errno));
        return 1;
    }

    // Warm both paths up (page faults, Qt's first socket), then alternate
    // rounds so that a slow phase of the machine hits both alike.
    measure(qtExchange, 50);
    measure(rawExchange, 50);
    const int rounds = 4;
    Figures qt = {0, 0, 0};
    Figures raw = {0, 0, 0};
    for (int round = 0; round < rounds; ++round) {
        const Figures q = measure(qtExchange, count / rounds);
        const Figures r = measure(rawExchange, count / rounds);
        qt = {qt.median + q.median / rounds, qt.mean + q.mean / rounds, qt.failures + q.failures};
        raw = {raw.median + r.median / rounds, raw.mean + r.mean / rounds,
               raw.failures + r.failures};
    }
    server.stop();

    std::printf("exchanges per client: %d (%d rounds)\n", count / rounds * rounds, rounds);
    std::printf("DaemonClient::request  median %8.1f us  mean %8.1f us  failures %d\n", qt.median,
                qt.mean, qt.failures);
    std::printf("raw POSIX client       median %8.1f us  mean %8.1f us  failures %d\n", raw.median,
                raw.mean, raw.failures);
    std::printf("ratio Qt/raw           median %8.2f     mean %8.2f\n", qt.median / raw.median,
                qt.mean / raw.mean);
    return qt.failures + raw.failures == 0 ? 0 : 1;
}
