#include "nickelsettings.h"

#include <QSettings>

QString readCurrentLocale(const QString &configPath)
{
    const QSettings settings(configPath, QSettings::IniFormat);
    return settings.value(QStringLiteral("ApplicationPreferences/CurrentLocale")).toString();
}
