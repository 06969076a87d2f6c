// Every cell of the text table, checked against the English row: a
// translation that loses a marker shows "{minutes}" to the user, one that
// drops the product name or cross-references the wrong button text misleads.

#include "ui/texttable.h"
#include "ui/uitext.h"

#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>
#include <QtTest>

namespace {

int column(const char *key)
{
    for (int i = 0; i < zorvi::textCount; ++i) {
        if (qstrcmp(zorvi::textKeys[i], key) == 0)
            return i;
    }
    return -1;
}

QString cell(int language, const char *key)
{
    return QString::fromUtf8(zorvi::textTable[language][column(key)]);
}

QStringList markers(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("\\{[^}]*\\}"));
    QStringList found;
    for (auto it = marker.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    return found;
}

} // namespace

class TestTextTable : public QObject {
    Q_OBJECT

private slots:
    // A code or key given twice would hide the second row or text: lookups
    // find the first.
    void rowsAndKeysAreUnique()
    {
        QSet<QString> codes, keys;
        for (const char *code : zorvi::languageCodes)
            codes << QString::fromLatin1(code);
        for (const char *key : zorvi::textKeys)
            keys << QString::fromLatin1(key);
        QCOMPARE(codes.size(), zorvi::languageCount);
        QCOMPARE(keys.size(), zorvi::textCount);
    }

    void everyCell_data()
    {
        QTest::addColumn<int>("language");
        for (int i = 1; i < zorvi::languageCount; ++i)
            QTest::newRow(zorvi::languageCodes[i]) << i;
    }

    void everyCell()
    {
        QFETCH(int, language);
        const QString code = QString::fromLatin1(zorvi::languageCodes[language]);
        QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
        for (int key = 0; key < zorvi::textCount; ++key) {
            const QByteArray raw(zorvi::textTable[language][key]);
            const QString text = QString::fromUtf8(raw);
            const QString english = QString::fromUtf8(zorvi::textTable[0][key]);
            const QString where = code + QLatin1Char('/') + QLatin1String(zorvi::textKeys[key]);
            const QByteArray what = where.toUtf8() + ": " + raw;

            QTextCodec::ConverterState state;
            utf8->toUnicode(raw.constData(), raw.size(), &state);
            QVERIFY2(state.invalidChars == 0 && state.remainingChars == 0, what);
            QVERIFY2(!text.trimmed().isEmpty(), what);
            QVERIFY2(text == text.trimmed(), what);
            QVERIFY2(markers(text) == markers(english), what);
            QVERIFY2(text.count(QLatin1String("Zorvi")) >= english.count(QLatin1String("Zorvi")),
                     what);
            QVERIFY2(!text.contains(QLatin1String("...")), what);
            QVERIFY2(text != english, what); // left untranslated
        }
    }

    // A pattern that drops a field, or names the weekday, writes a date the
    // owner cannot read as the day of the pairing.
    void datesNameDayMonthAndYear_data() { everyCell_data(); }

    void datesNameDayMonthAndYear()
    {
        QFETCH(int, language);
        QLocale locale(QString::fromLatin1(zorvi::languageCodes[language]).replace('-', '_'));
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        const QString date =
            locale.toString(QDate(2021, 12, 9), QString::fromUtf8(zorvi::dateFormats[language]));
        QVERIFY2(date.contains(locale.toString(9)), qPrintable(date));
        QVERIFY2(date.contains(locale.toString(2021)), qPrintable(date));
        QVERIFY2(date.contains(locale.monthName(12)) || date.contains(locale.toString(12)),
                 qPrintable(date));
        QVERIFY2(!date.contains(locale.dayName(4)), qPrintable(date));
    }

    void sentencesNameTheButtonsTheyReferTo_data() { everyCell_data(); }

    void sentencesNameTheButtonsTheyReferTo()
    {
        QFETCH(int, language);
        const QString page = cell(language, "connectedDevices");
        const QString button = cell(language, "connectDevice");
        QVERIFY2(cell(language, "deviceConnectedMessage").contains(page, Qt::CaseInsensitive),
                 qPrintable(page));
        QVERIFY2(cell(language, "codeExpiredMessage").contains(button, Qt::CaseInsensitive),
                 qPrintable(button));
    }

    // The paging buttons sit side by side below the device list, on a page
    // that also has a back button: two that read alike leave the owner
    // guessing which one turns the page and which one leaves it.
    void pagingButtonsAreDistinct_data() { everyCell_data(); }

    void pagingButtonsAreDistinct()
    {
        QFETCH(int, language);
        const QString texts[] = {cell(language, "previousPage"), cell(language, "nextPage"),
                                 cell(language, "back")};
        for (int i = 0; i < 3; ++i) {
            for (int j = i + 1; j < 3; ++j)
                QVERIFY2(texts[i].compare(texts[j], Qt::CaseInsensitive) != 0,
                         qPrintable(texts[i] + QLatin1String(" / ") + texts[j]));
        }
    }

    // A variant copied from the other would read wrongly to its readers.
    void variantsAreWrittenForTheirReaders()
    {
        const char *const variants[][2] = {{"pt", "pt-BR"}, {"zh-Hans", "zh-Hant"}};
        for (const auto &pair : variants)
            QVERIFY2(cell(zorvi::languageIndex(pair[0]), "connectDevice") !=
                         cell(zorvi::languageIndex(pair[1]), "connectDevice"),
                     pair[1]);
    }
};

QTEST_GUILESS_MAIN(TestTextTable)
#include "tst_texttable.moc"
