// Time from Panel::open() to the panel painted, on the offscreen platform,
// with a daemon that answers at once: the two requests of an opening, the
// relayout and a full paint. Median of many openings of one panel, and the
// first opening of a new one (which also builds the pages' style).
//   scripts/isolate build/bench/panel/bench-panel [OPENINGS]

#include "fakedaemon.h"
#include "ui/panel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QWindow>

#include <algorithm>

namespace {

// Counts the paint events a widget receives, to be sure each opening painted.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

QByteArray ok(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
           body;
}

// Opens the panel and runs the event loop until the panel has been painted,
// as Nickel's event loop would after the tap.
double openAndPaint(zorvi::Panel &panel, PaintCounter &counter)
{
    const int before = counter.paints;
    QElapsedTimer clock;
    clock.start();
    panel.open();
    while (counter.paints == before)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double ms = clock.nsecsElapsed() / 1e6;
    panel.dismiss();
    QApplication::processEvents();
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int openings = argc > 1 ? qMax(1, atoi(argv[1])) : 200;

    FakeDaemon daemon(ReplyScript::at(ok(R"({"state":"waiting"})")));
    daemon.route("GET /update",
                 ReplyScript::at(ok(R"({"state":"ready","version":"2.1.0","current":"2.0.3"})")));
    QWidget window;
    window.resize(1072, 1448);
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);

    PaintCounter counter;
    zorvi::Panel first(&window);
    first.installEventFilter(&counter);
    const double firstMs = openAndPaint(first, counter);

    zorvi::Panel panel(&window);
    panel.installEventFilter(&counter);
    QVector<double> times;
    for (int i = 0; i < openings; ++i)
        times << openAndPaint(panel, counter);
    std::sort(times.begin(), times.end());

    QTextStream(stdout) << "openings:           " << openings << '\n'
                        << "first opening:      " << firstMs << " ms\n"
                        << "median opening:     " << times.at(times.size() / 2) << " ms\n"
                        << "90th percentile:    " << times.at(times.size() * 9 / 10) << " ms\n";
    return 0;
}
