// What the add-on's application-wide event filters cost Nickel, and the
// memory the add-on takes.
//
// Dispatch: one million events that no filter wants (timer events, update
// requests, touches on an ordinary widget) sent through the application,
// timed with no filter, with two filters that return false at once (the
// least a filter can cost), and with libzorvi.so loaded and started. Memory:
// the stand-in's resident size without the add-on, with it after start-up,
// and after the panel's first opening.
//   scripts/isolate build/bench/filters/bench-filters

#include "processid.h"
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPluginLoader>
#include <QProcess>
#include <QTextStream>
#include <QThread>
#include <QTimerEvent>
#include <QTouchEvent>
#include <QWidget>

#include <algorithm>

namespace {

const int eventCount = 1000000;

class EmptyFilter : public QObject {
public:
    bool eventFilter(QObject *, QEvent *) override { return false; }
};

// Milliseconds to send eventCount unwanted events to the widget; the median
// of five rounds.
double dispatch(QWidget &target)
{
    QTimerEvent timer(1);
    QEvent update(QEvent::UpdateRequest);
    QTouchEvent touch(QEvent::TouchBegin);
    QEvent *events[] = {&timer, &update, &touch};
    QVector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < eventCount; ++i)
            QCoreApplication::sendEvent(&target, events[i % 3]);
        rounds << clock.nsecsElapsed() / 1e6;
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds.at(2);
}

// Resident memory of a process in KiB.
long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// The stand-in's resident size after start-up and, when asked, after a tap
// on the add-on's icon.
QPair<long, long> simMemory(const QString &pluginRoot, bool tapIcon)
{
    QProcess sim;
    sim.start(QStringLiteral(NICKEL_SIM),
              {QStringLiteral("--plugin-path"), pluginRoot, QStringLiteral("--stdin")});
    sim.waitForStarted();
    QThread::msleep(1500);
    QCoreApplication::processEvents();
    const qint64 pid = processIdOf(sim);
    const long started = residentKiB(pid);
    long opened = -1;
    if (tapIcon) {
        sim.write("tap zorviStatusIcon\n");
        sim.waitForBytesWritten();
        QThread::msleep(1500);
        opened = residentKiB(pid);
    }
    sim.write("quit\n");
    sim.waitForFinished();
    return qMakePair(started, opened);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QWidget target;

    dispatch(target); // warms caches and the branch predictor for every run alike
    const double bare = dispatch(target);
    EmptyFilter first, second;
    app.installEventFilter(&first);
    app.installEventFilter(&second);
    const double empty = dispatch(target);
    app.removeEventFilter(&first);
    app.removeEventFilter(&second);

    // The add-on, from a copy: its failsafe renames the file it was loaded from.
    const QString root = QStringLiteral("/tmp/bench-filters");
    QDir().mkpath(root + QStringLiteral("/imageformats"));
    const QString module = root + QStringLiteral("/imageformats/libzorvi.so");
    QFile::remove(module);
    QFile::copy(QStringLiteral(ZORVI_MODULE), module);
    QPluginLoader loader(module);
    if (!loader.load()) {
        out << "cannot load the add-on: " << loader.errorString() << '\n';
        return 1;
    }
    QCoreApplication::processEvents();
    const double addon = dispatch(target);

    out << "events per run:              " << eventCount << '\n'
        << "no filter:                   " << bare << " ms\n"
        << "two empty filters:           " << empty << " ms (" << empty / bare << "x bare)\n"
        << "libzorvi.so loaded:          " << addon << " ms (" << addon / empty
        << "x the two empty filters)\n";

    const QString emptyRoot = QStringLiteral("/tmp/bench-filters-none");
    QDir().mkpath(emptyRoot + QStringLiteral("/imageformats"));
    QFile::remove(module + QStringLiteral(".failsafe"));
    QFile::remove(module);
    QFile::copy(QStringLiteral(ZORVI_MODULE), module);
    const long without = simMemory(emptyRoot, false).first;
    const QPair<long, long> with = simMemory(root, true);
    out << "stand-in without the add-on: " << without << " KiB resident\n"
        << "with it, after start-up:     +" << with.first - without << " KiB\n"
        << "after the panel's opening:   +" << with.second - without << " KiB\n";
    return 0;
}
