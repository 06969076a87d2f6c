// Requests per second and latency of GET /clients with 100 paired devices,
// each request a DaemonClient exchange as the add-on makes it, from several
// client threads at once. Starts zorvid on /tmp/zorvid.sock and stops it,
// so run it in a private mount namespace:
//   scripts/isolate build/bench/zorvid/bench-zorvid [CLIENTS] [REQUESTS]
// At most REQUESTS requests (default 4000) and at most 30 s.

#include "benchdaemon.h"
#include "daemon/daemonclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

const int pairedDevices = 100;
const qint64 timeLimitMs = 30000;

bool writeClientList(const QString &file)
{
    QJsonArray clients;
    for (int i = 0; i < pairedDevices; ++i) {
        clients.append(QJsonObject::fromVariantMap(
            {{"id", QStringLiteral("Device %1/%2").arg(i).arg(i * 7919, 8, 16, QLatin1Char('0'))},
             {"name", QStringLiteral("Device %1").arg(i)},
             {"paired_at", 1700000000.0 + i * 3600}}));
    }
    QFile output(file);
    return output.open(QIODevice::WriteOnly) &&
           output.write(
               QJsonDocument(QJsonObject::fromVariantMap({{"clients", clients.toVariantList()}}))
                   .toJson()) > 0;
}

double percentile(const std::vector<qint64> &sorted, double p)
{
    return sorted.empty() ? 0 : sorted[size_t(p * double(sorted.size() - 1))] / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int clients = qBound(1, argc > 1 ? QByteArray(argv[1]).toInt() : 4, 64);
    const int requests = qBound(1, argc > 2 ? QByteArray(argv[2]).toInt() : 4000, 1000000);

    QTemporaryDir state(QStringLiteral("/tmp/bench-zorvid-XXXXXX"));
    if (!state.isValid() ||
        !writeClientList(QDir(state.path()).filePath(QStringLiteral("clients.json")))) {
        std::fprintf(stderr, "bench-zorvid: cannot write the client list under /tmp\n");
        return 1;
    }
    BenchDaemon daemon(state.path());
    if (!daemon.start())
        return 1;

    const zorvi::DaemonReply sample = zorvi::DaemonClient().listClients();
    const int bodyBytes = sample.json.toJson(QJsonDocument::Compact).size();
    bool ok = sample.status == 200 && sample.json.array().size() == pairedDevices;
    for (int i = 0; ok && i < 50; ++i) // warm-up
        ok = zorvi::DaemonClient().listClients().status == 200;

    std::atomic<int> issued{0};
    std::atomic<int> failures{0};
    std::vector<std::vector<qint64>> latencies(static_cast<size_t>(clients));
    QElapsedTimer wall;
    wall.start();
    std::vector<std::thread> threads;
    for (int t = 0; ok && t < clients; ++t) {
        threads.emplace_back([&, t] {
            const zorvi::DaemonClient client;
            QElapsedTimer one;
            while (issued.fetch_add(1) < requests && wall.elapsed() < timeLimitMs) {
                one.start();
                const zorvi::DaemonReply reply = client.listClients();
                latencies[size_t(t)].push_back(one.nsecsElapsed() / 1000);
                if (reply.status != 200 || reply.json.array().size() != pairedDevices)
                    ++failures;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    const qint64 elapsedMs = wall.elapsed();

    const bool stopped = daemon.stop();
    if (!ok) {
        std::fprintf(stderr, "bench-zorvid: GET /clients did not list %d devices\n", pairedDevices);
        return 1;
    }

    std::vector<qint64> all;
    for (const auto &part : latencies)
        all.insert(all.end(), part.begin(), part.end());
    std::sort(all.begin(), all.end());
    const double seconds = double(elapsedMs) / 1000.0;
    std::printf("GET /clients, %d paired devices (%d-byte body), %d concurrent clients\n",
                pairedDevices, bodyBytes, clients);
    std::printf("requests:       %zu in %.2f s%s\n", all.size(), seconds,
                elapsedMs >= timeLimitMs ? " (time limit reached)" : "");
    std::printf("throughput:     %.0f requests/s\n", double(all.size()) / seconds);
    std::printf("latency:        median %.3f ms, 95th percentile %.3f ms, max %.3f ms\n",
                percentile(all, 0.5), percentile(all, 0.95), percentile(all, 1.0));
    std::printf("failed replies: %d\n", failures.load());
    std::printf("zorvid stopped cleanly on SIGTERM: %s\n", stopped ? "yes" : "no");
    return failures.load() == 0 && stopped ? 0 : 1;
}
