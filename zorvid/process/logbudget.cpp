#include "process/logbudget.h"

#include "process/daemonlog.h"

namespace zorvid {

LogBudget::LogBudget(const QString &source, int linesPerMinute, QObject *parent)
    : QObject(parent)
    , source(source)
    , linesPerMinute(linesPerMinute)
{
    window.setInterval(60 * 1000);
    connect(&window, &QTimer::timeout, this, &LogBudget::windowEnded);
}

void LogBudget::log(const QString &line)
{
    // The minute starts with its first line: a quiet daemon runs no timer.
    if (!window.isActive())
        window.start();
    if (used < linesPerMinute) {
        ++used;
        daemonLog(line);
        return;
    }
    ++leftOut;
}

void LogBudget::windowEnded()
{
    if (leftOut > 0)
        daemonLog(
            source +
            QStringLiteral("%1 more lines left out of the log in the last minute").arg(leftOut));
    else
        window.stop();
    used = 0;
    leftOut = 0;
}

} // namespace zorvid
