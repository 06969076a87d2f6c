#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// zorvid as a child process of the test, with a state folder of its own that
// outlives restarts, and its log collected.
class ZorvidProcess {
public:
    ZorvidProcess();
    // Stops a daemon that still runs.
    ~ZorvidProcess();

    // Starts zorvid with ARGUMENTS, plus the state folder and a free pairing
    // port unless they are among them, and waits (at most 5 s) until it
    // listens. False, with the log shown, if it does not.
    bool start(const QStringList &arguments = {});
    // Starts it (with the same additions) and waits (at most 5 s) for it to
    // end by itself.
    bool runToExit(const QStringList &arguments);
    // SIGTERM, then waits; true when it ended with status 0.
    bool stop();
    // SIGKILL, then waits.
    void kill();
    // Waits for it to end by itself.
    bool waitForExit(int ms = 5000);
    bool isRunning() const { return process.state() != QProcess::NotRunning; }
    int exitCode() const { return process.exitCode(); }
    qint64 processId() const { return process.processId(); }
    QProcess::ExitStatus exitStatus() const { return process.exitStatus(); }

    // Everything it wrote to standard error so far.
    QString log();
    // Everything it wrote to standard output (only --help writes there).
    QString output() { return QString::fromUtf8(process.readAllStandardOutput()); }
    // Its lines since the log had LINES lines.
    QStringList linesFrom(int lines);
    // "http://127.0.0.1:PORT/pair", as its start line reports.
    QString phoneAddress() const { return address; }
    quint16 phonePort() const;

    QString stateDir() const { return state.path(); }
    QString clientsFile() const { return state.filePath(QStringLiteral("clients.json")); }
    // Empties the state folder, for a test that wants a fresh daemon.
    void clearState();
    // Replaces the client list with entries made of ID and NAME pairs.
    bool writeClients(const QList<QPair<QString, QString>> &clients);

private:
    QStringList withDefaults(const QStringList &arguments) const;

    QTemporaryDir state;
    QProcess process;
    QByteArray errors;
    QString address;
};
