#pragma once

#include <QString>

class QDate;
class QLocale;

namespace zorvi {

constexpr int languageCount = 30;
constexpr int textCount = 33;

// Language codes, one per row of the text table; row 0, English, is the
// fallback.
extern const char *const languageCodes[languageCount];
// How each language writes a date: day, month and year, no weekday, in the
// pattern of QLocale::toString(). The month names come from the locale. A
// pattern of the add-on's own rather than the locale's long format, which
// differs between versions of Qt: on the reader's Qt 5.2 it reads "en den
// 9:e mars" in Swedish and repeats the word for "on" in Vietnamese.
extern const char *const dateFormats[languageCount];
// A date as the language of row writes it, with locale's month names: its
// date format, except that French writes the first of a month as an
// ordinal, "1er décembre 2026".
QString writtenDate(const QLocale &locale, int row, const QDate &date);
// Text keys, one per column.
extern const char *const textKeys[textCount];
// Every text the add-on shows, UTF-8: one row per language, one column per
// key, every cell filled.
extern const char *const textTable[languageCount][textCount];

// The table row of a language code (compared ignoring case), or -1.
int languageIndex(const QString &code);

// The table row for a locale or language tag as Nickel or a browser names
// it ("de_DE", "pt-BR", "zh-TW", "nn-NO"): the exact row, else the row of
// its language, with the few names that differ from the table's mapped; -1
// when the language has no row.
int languageForLocale(const QString &locale);

} // namespace zorvi
