#pragma once

#include "filecontent.h"
#include "plugin/devicepaths.h"
#include "ui/uitext.h"

#include <QtTest>

// Writes Nickel's configuration with the given locale (no key when null) and
// lets the add-on read it, as a tap on the icon does. QSettings reuses what
// it read while a file keeps its size and time stamp, so every write here
// has a new size.
inline void chooseLocale(const QByteArray &locale)
{
    static int writes = 0;
    const QString path = QString::fromLatin1(zorvi::nickelConfigFile);
    QDir().mkpath(QFileInfo(path).path());
    QByteArray content = "[PowerOptions]\nAutoOffMinutes=30\nPadding=" + QByteArray(++writes, 'x') +
                         "\n\n[ApplicationPreferences]\n";
    if (!locale.isNull())
        content += "CurrentLocale=" + locale + "\n";
    QVERIFY(writeFile(path, content));
    zorvi::loadUiLanguage();
}
