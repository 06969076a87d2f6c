#pragma once

#include "plugin/devicepaths.h"

#include <QFile>
#include <QStringList>

// The messages of the add-on's log, without their time stamps.
inline QStringList logMessages()
{
    QStringList messages;
    QFile file(QString::fromLatin1(zorvi::logFile));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                messages << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
        }
    }
    return messages;
}
