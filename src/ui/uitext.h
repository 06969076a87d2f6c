#pragma once

#include <QLocale>
#include <QString>

class QAbstractButton;
class QDate;
class QFont;
class QLabel;
class QWidget;

namespace zorvi {

// The text of a key in the current language; a key that is not in the table
// comes back as its own characters.
QString uiText(const char *key);

// Chooses the language from Nickel's own locale setting, read afresh from its
// configuration file; anything unknown means English.
void loadUiLanguage();

// The locale of the current language, for dates and numbers.
QLocale uiLocale();

// A date as the current language writes it: day, month and year.
QString uiDate(const QDate &date);

// The font family to show the current language in: empty when the host's
// own font draws every text of the language, otherwise the first installed
// family that does. The reader's Qt takes the glyphs of a line's script from
// one family only, so a family without them shows empty boxes where another
// would not.
QString uiFontFamily(const QFont &hostFont);

// Gives a widget its text key and the key's text, so that retranslate() can
// set it again in another language.
void bindText(QLabel *label, const char *key);
void bindText(QAbstractButton *button, const char *key);

// Sets every keyed label and button below root to the current language.
void retranslate(QWidget *root);

// The longest device name and version the panel shows; longer ones are cut,
// with an ellipsis. They come from the daemon, and could be a megabyte long.
constexpr int longestDeviceName = 64;
constexpr int longestVersion = 32;

// Text from the daemon as the panel shows it, a device's name or a version:
// at most `longest` characters, control characters and line breaks as
// spaces, and without the characters that steer the direction of text,
// which could make a name impersonate another or turn the text after it
// around.
QString daemonText(const QString &text, int longest);

// Text from outside, set into a sentence or a label of the panel so that it
// keeps its own direction and can never reorder what stands around it: an
// embedding in its own direction, after any direction controls it held are
// removed. (Isolates would be the newer way; the reader's Qt 5.2 does not
// know them.)
QString isolatedText(const QString &text);

// Shows text on a word-wrapped label exactly as written: never read as
// markup, every space kept. It goes in as escaped rich text because a
// plain-text label lays out a right-to-left line that fills its width one
// space too wide, cutting off its first letter.
void setLiteralText(QLabel *label, const QString &text);

} // namespace zorvi
