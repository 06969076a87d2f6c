#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace zorvid {

// Lines of one source in the daemon's log, such as strangers' requests on
// the Wi-Fi, at most a number of them a minute: a flood cannot fill the log
// (in the reader's memory) nor push the lines before it out. Lines beyond
// are counted, and one line says how many at the end of the minute.
class LogBudget : public QObject {
public:
    // SOURCE names them in that line, e.g. "phone ".
    LogBudget(const QString &source, int linesPerMinute, QObject *parent = nullptr);

    void log(const QString &line);

private:
    void windowEnded();

    QString source;
    int linesPerMinute;
    int used = 0;
    int leftOut = 0;
    QTimer window;
};

} // namespace zorvid
