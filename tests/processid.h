#pragma once

#include <QProcess>

// The process id of PROCESS: pid(), the name of Qt 5.2, which later
// versions call processId() and mark pid() deprecated.
inline qint64 processIdOf(const QProcess &process)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return qint64(process.pid());
#pragma GCC diagnostic pop
}
