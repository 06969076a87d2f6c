#pragma once

#include "processid.h"
#include <QProcess>
#include <QString>
#include <QStringList>

// zorvid started for a benchmark, its log in a file (a line per request must
// never wait on a full pipe), stopped with SIGTERM.
class BenchDaemon {
public:
    explicit BenchDaemon(const QString &stateDir);
    ~BenchDaemon();

    // Starts it, with EXTRA arguments, and waits at most 20 s for its start
    // line; prints the log if that does not come.
    bool start(const QStringList &extra = QStringList());
    // SIGTERM; true when it ended with status 0 within 5 s.
    bool stop();
    qint64 pid() const { return processIdOf(process); }
    // "http://127.0.0.1:PORT/pair", from the start line.
    QString phoneAddress() const { return address; }
    QString log() const;

    // Of the running daemon, from /proc: descriptors open, resident KiB
    // (VmRSS; or RssAnon, its own memory, or RssFile, mapped files such as
    // the libraries, which other processes share).
    int openFiles() const;
    qint64 residentKiB(const char *field = "VmRSS") const;

private:
    QString stateDir;
    QString logFile;
    QProcess process;
    QString address;
};
