#include "ui/uitext.h"

#include "plugin/devicepaths.h"
#include "ui/texttable.h"

#include <QAbstractButton>
#include <QDate>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QLabel>
#include <QSettings>
#include <QTextLayout>

#include <cstring>

namespace zorvi {

namespace {

const char textKeyProperty[] = "zorviTextKey";

// The row in use; English until the user first opens the panel.
int currentLanguage = 0;

} // namespace

QString uiText(const char *key)
{
    for (int column = 0; column < textCount; ++column) {
        if (std::strcmp(key, textKeys[column]) == 0)
            return QString::fromUtf8(textTable[currentLanguage][column]);
    }
    return QString::fromLatin1(key);
}

void loadUiLanguage()
{
    const QSettings settings(QString::fromLatin1(nickelConfigFile), QSettings::IniFormat);
    const int row = languageForLocale(
        settings.value(QStringLiteral("ApplicationPreferences/CurrentLocale")).toString());
    currentLanguage = row < 0 ? 0 : row;
}

QLocale uiLocale()
{
    return QLocale(QString::fromLatin1(languageCodes[currentLanguage])
                       .replace(QLatin1Char('-'), QLatin1Char('_')));
}

QString uiDate(const QDate &date)
{
    return writtenDate(uiLocale(), currentLanguage, date);
}

namespace {

// Whether every text of the current language is drawn in the family of font
// without the missing-glyph box, glyph 0, in the regular and the bold weight
// the panel uses (each weight may be a file of its own, with glyphs of its
// own). Each text is laid out as a label lays it out, so that spaces, digits
// and punctuation are judged in the family that the script around them
// takes.
bool drawsEveryText(const QFont &font)
{
    QFont bold = font;
    bold.setBold(true);
    for (const QFont &weight : {font, bold}) {
        for (int key = 0; key < textCount; ++key) {
            QTextLayout layout(QString::fromUtf8(textTable[currentLanguage][key]), weight);
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            for (const QGlyphRun &run : layout.glyphRuns()) {
                if (run.glyphIndexes().contains(0))
                    return false;
            }
        }
    }
    return true;
}

} // namespace

QString uiFontFamily(const QFont &hostFont)
{
    // The answer holds until the language or the host's font changes. Kept
    // as names: a font object must not outlive the application at exit.
    static int language = -1;
    static QString host;
    static QString chosen;
    if (language == currentLanguage && host == hostFont.key())
        return chosen;
    language = currentLanguage;
    host = hostFont.key();
    chosen.clear();
    if (drawsEveryText(hostFont))
        return chosen;
    QFont font = hostFont;
    const QStringList families = QFontDatabase().families();
    for (const QString &family : families) {
        font.setFamily(family);
        if (drawsEveryText(font)) {
            chosen = family;
            break;
        }
    }
    return chosen;
}

namespace {

// The characters that set or change the direction of text: marks,
// embeddings, overrides and isolates.
bool steersDirection(QChar c)
{
    const ushort u = c.unicode();
    return u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
           (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString daemonText(const QString &text, int longest)
{
    QString shown;
    for (const QChar c : text) {
        if (steersDirection(c))
            continue;
        if (shown.size() == longest) {
            // One character too many: the last one makes room for the
            // ellipsis, and never half of a surrogate pair stays.
            shown.chop(1);
            if (shown.at(shown.size() - 1).isHighSurrogate())
                shown.chop(1);
            return shown + QChar(0x2026);
        }
        const QChar::Category category = c.category();
        const bool breaksLines = category == QChar::Other_Control ||
                                 category == QChar::Separator_Line ||
                                 category == QChar::Separator_Paragraph;
        shown += breaksLines ? QChar(QLatin1Char(' ')) : c;
    }
    return shown;
}

QString isolatedText(const QString &text)
{
    QString inner;
    for (const QChar c : text) {
        if (!steersDirection(c))
            inner += c;
    }
    const QChar embedding(inner.isRightToLeft() ? 0x202B : 0x202A);
    return embedding + inner + QChar(0x202C);
}

void bindText(QLabel *label, const char *key)
{
    label->setProperty(textKeyProperty, QString::fromLatin1(key));
    label->setText(uiText(key));
}

void bindText(QAbstractButton *button, const char *key)
{
    button->setProperty(textKeyProperty, QString::fromLatin1(key));
    button->setText(uiText(key));
}

void retranslate(QWidget *root)
{
    const QList<QWidget *> widgets = root->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        const QByteArray key = widget->property(textKeyProperty).toByteArray();
        if (key.isEmpty())
            continue;
        if (QLabel *label = qobject_cast<QLabel *>(widget))
            label->setText(uiText(key.constData()));
        else if (QAbstractButton *button = qobject_cast<QAbstractButton *>(widget))
            button->setText(uiText(key.constData()));
    }
}

void setLiteralText(QLabel *label, const QString &text)
{
    label->setTextFormat(Qt::RichText);
    label->setText(text.isEmpty() ? text
                                  : QLatin1String("<span style=\"white-space: pre-wrap\">") +
                                        text.toHtmlEscaped() + QLatin1String("</span>"));
}

} // namespace zorvi
