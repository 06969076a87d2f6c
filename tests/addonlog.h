#pragma once

// The add-on's log on the reader's storage, as the suites read it back, and
// folders of the private mount namespace made read-only.

#include "filecontent.h"
#include "plugin/devicepaths.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

inline QByteArray readLog()
{
    return readFile(QString::fromLatin1(zorvi::logFile));
}

inline void clearLog()
{
    QFile::remove(QString::fromLatin1(zorvi::logFile));
}

// The messages of the log, without their time stamps; a message of several
// lines (a status bar's structure) is one entry. A time stamp such as
// "2024-05-01T10:42:00 " starts every message and no other line, so a log
// written in another form reads as no message at all.
inline QStringList logMessages()
{
    static const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d "));
    QStringList messages;
    QStringList lines = QString::fromUtf8(readLog()).split(QLatin1Char('\n'));
    lines.removeLast(); // after the last line feed
    for (const QString &line : lines) {
        if (stamp.match(line).hasMatch())
            messages << line.mid(20);
        else if (!messages.isEmpty())
            messages.last() += QLatin1Char('\n') + line;
    }
    return messages;
}

// Runs a command such as mount; true when it succeeded.
inline bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

// Mounts the folder over itself read-only, or takes that mount away again.
inline bool setReadOnly(const QString &dir, bool readOnly)
{
    if (!readOnly)
        return run(QStringLiteral("umount"), {dir});
    return run(QStringLiteral("mount"), {QStringLiteral("--bind"), dir, dir}) &&
           run(QStringLiteral("mount"),
               {QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), dir});
}
