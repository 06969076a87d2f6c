#pragma once

#include <QDate>
#include <QLocale>
#include <QPair>
#include <QString>

#include <initializer_list>

namespace zorvid {

// The language a browser's pages are written in: one of the add-on's
// languages, chosen from the browser's Accept-Language, English when none
// of them is wanted. It gives the pages' texts, and writes dates and numbers
// as that language does.
class PageLanguage {
public:
    // Row 0 of the text table: English.
    PageLanguage() = default;
    // From an Accept-Language field ("fr-CH, fr;q=0.9, en;q=0.8, *;q=0.5"):
    // the wanted language with the highest weight that has a row; among
    // equal weights, the first named.
    static PageLanguage fromAcceptLanguage(const QByteArray &field);

    // The code for the lang attribute, e.g. "pt-BR".
    QString code() const;
    bool isRightToLeft() const;

    // The text of KEY; a key that is not in the table comes back as itself.
    QString text(const char *key) const;
    // The text of KEY with its {placeholders} filled in, in one pass, so
    // that a value holding "{date}" stays as it is.
    QString text(const char *key, std::initializer_list<QPair<const char *, QString>> values) const;

    // The text of KEY for COUNT things, {count} written as number() writes
    // it. Such a text holds one form for each plural category that the
    // language tells apart, separated by "|", in the order zero, one, two,
    // few, many, other of those it has (English "{count} book|{count}
    // books"; Polish one, few, many; Japanese a single form).
    QString counted(const char *key, qint64 count) const;
    // How many forms a text with a count holds in this language.
    int pluralForms() const;

    QString number(qint64 value) const;
    // A number as the library keeps it, in digits and perhaps a decimal
    // point ("3", "2.5"), in the language's own digits and decimal sign;
    // anything else ("IV", "3a") as it stands.
    QString numeral(const QString &written) const;
    // A date as the language writes it: day, month and year.
    QString date(const QDate &date) const;
    QLocale locale() const;

private:
    // Which of the forms COUNT takes.
    int pluralForm(qint64 count) const;

    explicit PageLanguage(int row)
        : row(row)
    {
    }

    int row = 0;
};

} // namespace zorvid
