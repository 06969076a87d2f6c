#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class NickelWindow;
class WirelessWatchdog;
class QSocketNotifier;
class QWidget;

// Runs the host's script commands one at a time on the GUI thread, from a
// script file first, then from standard input as lines arrive. A "wait"
// pauses the script, never the event loop.
class ScriptRunner : public QObject {
    Q_OBJECT

public:
    // wifi-on connects Wi-Fi through wifi, Nickel's watchdog of it.
    ScriptRunner(NickelWindow *window, WirelessWatchdog *wifi, QObject *parent = nullptr);

    bool addScriptFile(const QString &path);
    void readStandardInput();
    void start();

private:
    void readAvailableInput();
    void enqueue(const QString &line);
    void scheduleStep();
    void step();
    void execute(const QString &command, const QString &argument);
    void waitFor(const QString &argument);
    void tap(QWidget *target, const QString &name);
    void find(const QString &name);
    void screenshot(const QString &path);

    NickelWindow *window;
    WirelessWatchdog *wifi;
    QSocketNotifier *inputNotifier = nullptr;
    QByteArray partialLine;
    QStringList pending;
    // The next step, from the event loop; and the pause of a "wait".
    QTimer stepTimer;
    QTimer waitTimer;
    bool started = false;
    bool busy = false;
    bool finished = false;
};
