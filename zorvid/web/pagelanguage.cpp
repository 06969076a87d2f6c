#include "pagelanguage.h"

#include "pagetexts.h"

#include <QList>
#include <QRegularExpression>

#include <cstring>

namespace zorvid {

PageLanguage PageLanguage::fromAcceptLanguage(const QByteArray &field)
{
    struct Wanted {
        double weight;
        int row;
    };
    QList<Wanted> wanted;
    for (const QByteArray &entry : field.split(',')) {
        const QList<QByteArray> parts = entry.split(';');
        const QString tag = QString::fromLatin1(parts.first().trimmed());
        double weight = 1;
        for (int i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts.at(i).trimmed();
            if (parameter.startsWith("q=") || parameter.startsWith("Q=")) {
                bool valid = false;
                weight = parameter.mid(2).toDouble(&valid);
                if (!valid)
                    weight = 0;
            }
        }
        const int row = zorvi::languageForLocale(tag);
        if (weight > 0 && row >= 0)
            wanted.append(Wanted{weight, row});
    }
    std::stable_sort(wanted.begin(), wanted.end(),
                     [](const Wanted &a, const Wanted &b) { return a.weight > b.weight; });
    return wanted.isEmpty() ? PageLanguage() : PageLanguage(wanted.first().row);
}

QString PageLanguage::code() const
{
    return QString::fromLatin1(zorvi::languageCodes[row]);
}

bool PageLanguage::isRightToLeft() const
{
    return code() == QLatin1String("ar") || code() == QLatin1String("he");
}

QString PageLanguage::text(const char *key) const
{
    for (int column = 0; column < pageTextCount; ++column) {
        if (std::strcmp(key, pageTextKeys[column]) == 0)
            return QString::fromUtf8(pageTextTable[row][column]);
    }
    return QString::fromLatin1(key);
}

QString PageLanguage::text(const char *key,
                           std::initializer_list<QPair<const char *, QString>> values) const
{
    const QString pattern = text(key);
    QString filled;
    int from = 0;
    while (from < pattern.size()) {
        const int open = pattern.indexOf(QLatin1Char('{'), from);
        const int close = open < 0 ? -1 : pattern.indexOf(QLatin1Char('}'), open);
        if (close < 0)
            break;
        const QString name = pattern.mid(open + 1, close - open - 1);
        const auto value = std::find_if(values.begin(), values.end(), [&](const auto &pair) {
            return name == QLatin1String(pair.first);
        });
        filled += pattern.midRef(from, open - from);
        filled += value != values.end() ? value->second : pattern.mid(open, close - open + 1);
        from = close + 1;
    }
    return filled + pattern.mid(from);
}

QLocale PageLanguage::locale() const
{
    return QLocale(code().replace(QLatin1Char('-'), QLatin1Char('_')));
}

QString PageLanguage::number(qint64 value) const
{
    return locale().toString(value);
}

QString PageLanguage::numeral(const QString &written) const
{
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    if (!decimal.match(written).hasMatch())
        return written;
    // Digit by digit rather than through a double: "2.50" keeps its zero and
    // a long number its every digit.
    const QLocale writer = locale();
    QString numeral;
    for (const QChar c : written) {
        numeral += c == QLatin1Char('.')
                       ? writer.decimalPoint()
                       : QChar(writer.zeroDigit().unicode() + (c.unicode() - '0'));
    }
    return numeral;
}

QString PageLanguage::date(const QDate &date) const
{
    return zorvi::writtenDate(locale(), row, date);
}

} // namespace zorvid
