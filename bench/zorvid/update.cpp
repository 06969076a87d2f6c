// What an update costs: a check that finds the running version up to date,
// and one that finds a newer release and downloads its archive of 2 MB
// (the reader's is about 1.3 MB) from an HTTPS feed on the loopback
// interface (tools/feed/feedserver.py), each from the add-on's request to
// the state it settles in; and zorvid's resident memory before and at most
// during the download. Run it inside the mount namespace:
//   scripts/isolate build/bench/zorvid/bench-update [ROUNDS]
// With ZORVI_ZORVID=build-armhf/emulated/zorvid and
// ZORVI_FEED_CREDENTIALS=build-armhf/feed it measures the reader's build
// under qemu-arm (its memory then includes the emulator's).

#include "benchdaemon.h"
#include "daemon/daemonclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int archiveBytes = 2 * 1024 * 1024;

QString credentials()
{
    const QByteArray other = qgetenv("ZORVI_FEED_CREDENTIALS");
    return other.isEmpty() ? QStringLiteral(FEED_CREDENTIALS) : QString::fromLocal8Bit(other);
}

bool sign(const QString &root, const QString &version, int port)
{
    QProcess writer;
    writer.setStandardOutputFile(root + QStringLiteral("/manifest.json"));
    writer.start(QStringLiteral("python3"),
                 {QStringLiteral(FEED_TOOLS "/manifest.py"), QStringLiteral("--key"),
                  credentials() + QStringLiteral("/signing.key"), QStringLiteral("--version"),
                  version, QStringLiteral("--archive"), root + QStringLiteral("/KoboRoot.tgz"),
                  QStringLiteral("--url"),
                  QStringLiteral("https://localhost:%1/KoboRoot.tgz").arg(port)});
    return writer.waitForFinished(10000) && writer.exitCode() == 0;
}

QString state(QJsonObject *reply = nullptr)
{
    const QJsonObject status = zorvi::DaemonClient().updateStatus().json.object();
    if (reply)
        *reply = status;
    return status.value(QStringLiteral("state")).toString();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTemporaryDir feedRoot(QDir::temp().filePath(QStringLiteral("feed-XXXXXX")));
    QFile random(QStringLiteral("/dev/urandom"));
    QFile archive(feedRoot.path() + QStringLiteral("/KoboRoot.tgz"));
    if (!random.open(QIODevice::ReadOnly) || !archive.open(QIODevice::WriteOnly) ||
        archive.write(random.read(archiveBytes)) != archiveBytes)
        return 1;
    archive.close();
    QProcess feed;
    feed.start(QStringLiteral("python3"),
               {QStringLiteral(FEED_TOOLS "/feedserver.py"), QStringLiteral("--cert"),
                credentials() + QStringLiteral("/feed.pem"), QStringLiteral("--key"),
                credentials() + QStringLiteral("/feed.key"), QStringLiteral("--root"),
                feedRoot.path()});
    if (!feed.waitForReadyRead(10000))
        return 1;
    const int port = feed.readLine().trimmed().toInt();
    const QString storage = QStringLiteral("/mnt/onboard");
    const QStringList arguments{QStringLiteral("--storage"),
                                storage,
                                QStringLiteral("--install-slot"),
                                storage + QStringLiteral("/.kobo/KoboRoot.tgz"),
                                QStringLiteral("--update-feed"),
                                QStringLiteral("https://localhost:%1/manifest.json").arg(port)};

    std::vector<double> upToDate, found, download, before, most;
    QString current;
    for (int round = 0; round < rounds; ++round) {
        QDir(storage + QStringLiteral("/.kobo")).removeRecursively();
        QDir(storage + QStringLiteral("/.adds")).removeRecursively();
        QDir().mkpath(storage + QStringLiteral("/.kobo"));
        const QString stateDir = storage + QStringLiteral("/.adds/zorvi/zorvid");
        QDir().mkpath(stateDir);
        BenchDaemon daemon(stateDir);
        if (!daemon.start(arguments))
            return 1;
        QJsonObject reply;
        state(&reply);
        current = reply.value(QStringLiteral("current")).toString();

        // Up to date: the feed offers the running version.
        if (!sign(feedRoot.path(), current, port))
            return 1;
        QElapsedTimer clock;
        clock.start();
        if (!zorvi::DaemonClient().checkForUpdate())
            return 1;
        while (state(&reply) == QLatin1String("checking"))
            QThread::msleep(2);
        upToDate.push_back(clock.nsecsElapsed() / 1e6);
        if (reply.value(QStringLiteral("last")).toString() != QLatin1String("up_to_date")) {
            std::fprintf(stderr, "not up to date:\n%s\n", qPrintable(daemon.log()));
            return 1;
        }

        // A newer release: the manifest, then the archive.
        if (!sign(feedRoot.path(), current + QStringLiteral(".1"), port))
            return 1;
        before.push_back(daemon.residentKiB() / 1024.0);
        double peak = 0;
        clock.restart();
        if (!zorvi::DaemonClient().checkForUpdate())
            return 1;
        QString now;
        while ((now = state()) == QLatin1String("checking"))
            QThread::msleep(2);
        found.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        while ((now = state()) == QLatin1String("downloading")) {
            peak = std::max(peak, daemon.residentKiB() / 1024.0);
            QThread::msleep(2);
        }
        download.push_back(clock.nsecsElapsed() / 1e6);
        most.push_back(std::max(peak, daemon.residentKiB() / 1024.0));
        if (now != QLatin1String("ready")) {
            std::fprintf(stderr, "not ready:\n%s\n", qPrintable(daemon.log()));
            return 1;
        }
    }
    feed.terminate();
    feed.waitForFinished();
    std::printf("zorvid %s, %d rounds (medians)\n", qPrintable(current), rounds);
    std::printf("  check, up to date:             %8.1f ms\n", median(upToDate));
    std::printf("  check, a newer release found:  %8.1f ms\n", median(found));
    std::printf("  download of %d bytes:     %8.1f ms\n", archiveBytes, median(download));
    std::printf("  resident memory before:        %8.1f MiB\n", median(before));
    std::printf("  resident memory at most while downloading: %.1f MiB\n", median(most));
    return 0;
}
