#include "library/searchtext.h"

namespace zorvid {

QString foldedForSearch(const QString &text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString plain;
    plain.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            plain += c;
    }
    return plain.toCaseFolded();
}

QString searchTextOf(const Book &book)
{
    return foldedForSearch(book.title + QLatin1Char('\n') + book.author + QLatin1Char('\n') +
                           book.series);
}

} // namespace zorvid
