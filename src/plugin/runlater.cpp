#include "plugin/runlater.h"

#include <QTimer>

namespace zorvi {

void runLater(QObject *context, int ms, std::function<void()> work)
{
    QTimer *timer = new QTimer(context);
    timer->setSingleShot(true);
    // As QTimer::singleShot() chooses: a coarse timer may fire 5% early,
    // which only long waits can afford.
    timer->setTimerType(ms >= 2000 ? Qt::CoarseTimer : Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, work] {
        timer->deleteLater();
        work();
    });
    timer->start(ms);
}

} // namespace zorvi
