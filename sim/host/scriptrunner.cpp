#include "scriptrunner.h"

#include "hostoutput.h"
#include "nickelwindow.h"
#include "touchscreen.h"
#include "widgetfinder.h"
#include "wirelesswatchdog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdlib>
#include <unistd.h>

ScriptRunner::ScriptRunner(NickelWindow *window, WirelessWatchdog *wifi, QObject *parent)
    : QObject(parent)
    , window(window)
    , wifi(wifi)
{
    stepTimer.setSingleShot(true);
    connect(&stepTimer, &QTimer::timeout, this, [this] { step(); });
    waitTimer.setSingleShot(true);
    connect(&waitTimer, &QTimer::timeout, this, [this] { scheduleStep(); });
}

bool ScriptRunner::addScriptFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines)
        enqueue(line);
    return true;
}

void ScriptRunner::readStandardInput()
{
    inputNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(inputNotifier, &QSocketNotifier::activated, this, &ScriptRunner::readAvailableInput);
}

void ScriptRunner::start()
{
    started = true;
    scheduleStep();
}

void ScriptRunner::readAvailableInput()
{
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        // End of input: the host runs on, as Nickel would, until told to quit.
        inputNotifier->setEnabled(false);
        if (!partialLine.isEmpty())
            enqueue(QString::fromUtf8(partialLine));
        partialLine.clear();
        return;
    }
    partialLine.append(buffer, int(count));
    int end;
    while ((end = partialLine.indexOf('\n')) >= 0) {
        enqueue(QString::fromUtf8(partialLine.left(end)));
        partialLine.remove(0, end + 1);
    }
}

void ScriptRunner::enqueue(const QString &line)
{
    const QString command = line.trimmed();
    if (command.isEmpty() || command.startsWith(QLatin1Char('#')))
        return;
    pending << command;
    scheduleStep();
}

void ScriptRunner::scheduleStep()
{
    if (started && !finished)
        stepTimer.start(0);
}

void ScriptRunner::step()
{
    // A tap spins the event loop, which can bring a step here while one runs.
    if (busy || waitTimer.isActive() || finished || pending.isEmpty())
        return;
    const QString line = pending.takeFirst();
    const int space = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
    const QString command = space < 0 ? line : line.left(space);
    const QString argument = space < 0 ? QString() : line.mid(space + 1).trimmed();
    busy = true;
    execute(command, argument);
    busy = false;
    if (!pending.isEmpty())
        scheduleStep();
}

void ScriptRunner::execute(const QString &command, const QString &argument)
{
    const bool wantsArgument =
        command == QLatin1String("wait") || command == QLatin1String("tap") ||
        command == QLatin1String("tap-text") || command == QLatin1String("find") ||
        command == QLatin1String("find-text") || command == QLatin1String("screenshot");
    if (wantsArgument && argument.isEmpty()) {
        hostSay(QStringLiteral("error: %1 needs an argument").arg(command));
        return;
    }
    if (command == QLatin1String("wait")) {
        waitFor(argument);
    } else if (command == QLatin1String("open-book")) {
        window->openBook();
    } else if (command == QLatin1String("close-book")) {
        window->closeBook();
    } else if (command == QLatin1String("destroy-book")) {
        window->destroyBook();
    } else if (command == QLatin1String("new-statusbar")) {
        window->addStatusBar();
    } else if (command == QLatin1String("tap")) {
        tap(WidgetFinder::visibleWidgetNamed(argument), argument);
    } else if (command == QLatin1String("tap-text")) {
        tap(WidgetFinder::visibleButtonWithText(argument), argument);
    } else if (command == QLatin1String("find")) {
        find(argument);
    } else if (command == QLatin1String("find-text")) {
        static const char *const shown[] = {"not shown", "shown", "shown, disabled"};
        hostSay(QStringLiteral("find-text %1: %2")
                    .arg(argument, QLatin1String(shown[int(WidgetFinder::visibleText(argument))])));
    } else if (command == QLatin1String("screenshot")) {
        screenshot(argument);
    } else if (command == QLatin1String("wifi-on")) {
        hostSay(QStringLiteral("wifi on"));
        wifi->wifiConnected();
    } else if (command == QLatin1String("crash")) {
        hostSay(QStringLiteral("crash"));
        std::abort();
    } else if (command == QLatin1String("quit")) {
        hostSay(QStringLiteral("quit"));
        finished = true;
        QCoreApplication::exit(0);
    } else {
        hostSay(QStringLiteral("error: unknown command %1").arg(command));
    }
}

void ScriptRunner::waitFor(const QString &argument)
{
    bool ok = false;
    const int milliseconds = argument.toInt(&ok);
    if (!ok || milliseconds < 0) {
        hostSay(QStringLiteral("error: wait wants milliseconds, not %1").arg(argument));
        return;
    }
    waitTimer.start(milliseconds);
}

void ScriptRunner::tap(QWidget *target, const QString &name)
{
    if (!target) {
        hostSay(QStringLiteral("error: no visible widget %1 to tap").arg(name));
        return;
    }
    // A finger down and up at the centre, through the window system, so the
    // touch reaches whichever widget is on top there, as on the screen.
    const QPoint centre = target->rect().center();
    const QPoint inWindow = target->mapTo(target->window(), centre);
    hostSay(QStringLiteral("tap %1 at %2,%3").arg(name).arg(inWindow.x()).arg(inWindow.y()));
    TouchScreen().tap(target, centre);
}

void ScriptRunner::find(const QString &name)
{
    const QList<QWidget *> found = WidgetFinder::widgetsNamed(name);
    if (found.isEmpty())
        hostSay(QStringLiteral("find %1: not found").arg(name));
    for (const QWidget *widget : found)
        hostSay(QStringLiteral("find %1: %2").arg(name, WidgetFinder::describe(widget)));
}

void ScriptRunner::screenshot(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QImage image = window->grab().toImage();
    if (!image.save(path, "PNG")) {
        hostSay(QStringLiteral("error: cannot write screenshot %1").arg(path));
        return;
    }
    hostSay(QStringLiteral("screenshot %1 %2x%3").arg(path).arg(image.width()).arg(image.height()));
}
