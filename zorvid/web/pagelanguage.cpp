#include "pagelanguage.h"

#include "pagetexts.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>

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

namespace {

// The plural categories of the languages whose nouns change with a count, by
// the Unicode CLDR's rules for whole numbers: how many forms a text holds,
// and which one a count takes. The languages not named write a noun after a
// number in a single form.
struct PluralRule {
    const char *code;
    int forms;
    int (*form)(qint64 n);
};

int oneOther(qint64 n)
{
    return n == 1 ? 0 : 1;
}

int zeroOrOneOther(qint64 n)
{
    return n == 0 || n == 1 ? 0 : 1;
}

// Czech and Slovak: 1, 2–4, the rest.
int oneFewOther(qint64 n)
{
    return n == 1 ? 0 : n >= 2 && n <= 4 ? 1 : 2;
}

// Polish: 1; 2–4, 22–24, ... but not 12–14; the rest.
int polish(qint64 n)
{
    if (n == 1)
        return 0;
    const qint64 tens = n % 100;
    return n % 10 >= 2 && n % 10 <= 4 && (tens < 12 || tens > 14) ? 1 : 2;
}

// Russian and Ukrainian: 1, 21, 31, ... but not 11; 2–4, 22–24, ... but not
// 12–14; the rest.
int eastSlavic(qint64 n)
{
    const qint64 ones = n % 10, tens = n % 100;
    if (ones == 1 && tens != 11)
        return 0;
    return ones >= 2 && ones <= 4 && (tens < 12 || tens > 14) ? 1 : 2;
}

// Romanian: 1; 0 and 2–19 (of each hundred, except the first); the rest,
// which take "de".
int romanian(qint64 n)
{
    const qint64 tens = n % 100;
    return n == 1 ? 0 : n == 0 || (tens >= 2 && tens <= 19) ? 1 : 2;
}

// Hebrew: 1, 2, the rest.
int oneTwoOther(qint64 n)
{
    return n == 1 ? 0 : n == 2 ? 1 : 2;
}

// Arabic: 0, 1, 2, 3–10, 11–99 (of each hundred), the rest.
int arabic(qint64 n)
{
    const qint64 tens = n % 100;
    if (n <= 2)
        return int(n);
    return tens >= 3 && tens <= 10 ? 3 : tens >= 11 ? 4 : 5;
}

const PluralRule pluralRules[] = {
    {"en", 2, oneOther},       {"da", 2, oneOther},          {"de", 2, oneOther},
    {"el", 2, oneOther},       {"es", 2, oneOther},          {"fi", 2, oneOther},
    {"it", 2, oneOther},       {"nb", 2, oneOther},          {"nl", 2, oneOther},
    {"pt", 2, oneOther},       {"sv", 2, oneOther},          {"fr", 2, zeroOrOneOther},
    {"hi", 2, zeroOrOneOther}, {"pt-BR", 2, zeroOrOneOther}, {"cs", 3, oneFewOther},
    {"pl", 3, polish},         {"ru", 3, eastSlavic},        {"uk", 3, eastSlavic},
    {"ro", 3, romanian},       {"he", 3, oneTwoOther},       {"ar", 6, arabic},
};

const PluralRule *pluralRule(const QString &code)
{
    for (const PluralRule &rule : pluralRules) {
        if (code == QLatin1String(rule.code))
            return &rule;
    }
    return nullptr;
}

} // namespace

int PageLanguage::pluralForms() const
{
    const PluralRule *rule = pluralRule(code());
    return rule ? rule->forms : 1;
}

int PageLanguage::pluralForm(qint64 count) const
{
    const PluralRule *rule = pluralRule(code());
    return rule ? rule->form(qAbs(count)) : 0;
}

QString PageLanguage::counted(const char *key, qint64 count) const
{
    const QStringList forms = text(key).split(QLatin1Char('|'));
    const QString form = forms.value(pluralForm(count), forms.last());
    return QString(form).replace(QLatin1String("{count}"), number(count));
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
