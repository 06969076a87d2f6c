#pragma once

#include "plugin/devicepaths.h"

#include <QFile>
#include <QStringList>

// The messages of the add-on's log, without their time stamps; a message of
// several lines (a status bar's structure) is one entry.
inline QStringList logMessages()
{
    QStringList messages;
    QFile file(QString::fromLatin1(zorvi::logFile));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return messages;
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeLast(); // after the last line feed
    for (const QByteArray &line : lines) {
        // A time stamp such as 2024-05-01T10:42:00 starts every message.
        if (line.size() > 10 && line.at(10) == 'T' && QChar(line.at(0)).isDigit())
            messages << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
        else if (!messages.isEmpty())
            messages.last() += QLatin1Char('\n') + QString::fromUtf8(line);
    }
    return messages;
}
