#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// zorvid started for a benchmark, its log in a file (a line per request must
// never wait on a full pipe), stopped with SIGTERM.
class BenchDaemon {
public:
    explicit BenchDaemon(const QString &stateDir);
    ~BenchDaemon();

    // Starts it and waits at most 5 s for its start line; prints the log if
    // that does not come.
    bool start();
    // SIGTERM; true when it ended with status 0 within 5 s.
    bool stop();
    qint64 pid() const { return process.processId(); }
    // "http://127.0.0.1:PORT/pair", from the start line.
    QString phoneAddress() const { return address; }
    QString log() const;

    // Of the running daemon, from /proc: descriptors open, resident KiB.
    int openFiles() const;
    qint64 residentKiB() const;

private:
    QString stateDir;
    QString logFile;
    QProcess process;
    QString address;
};
