#pragma once

#include <QString>

// The locale name Nickel is set to ("ApplicationPreferences/CurrentLocale" of
// its INI settings file), or an empty string when the file or key is missing.
QString readCurrentLocale(const QString &configPath);
