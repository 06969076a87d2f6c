// Every cell of the text table, checked against the English row: a
// translation that loses a marker shows "{minutes}" to the user, one that
// drops the product name or cross-references the wrong button text misleads.

#include "ui/texttable.h"

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

// Cells that really are written as in English, with the reason.
const QSet<QString> sameAsEnglish = {};

// Languages whose grammar inflects a quoted button or page name inside a
// sentence, so the sentence cannot hold the button's text unchanged.
const QSet<QString> inflectedReferences = {};

} // namespace

class TestTextTable : public QObject {
    Q_OBJECT

private slots:
    void rowsAndKeys()
    {
        QCOMPARE(QString::fromLatin1(zorvi::languageCodes[0]), QStringLiteral("en"));
        QSet<QString> codes, keys;
        for (const char *code : zorvi::languageCodes)
            codes << QString::fromLatin1(code);
        for (const char *key : zorvi::textKeys)
            keys << QString::fromLatin1(key);
        QCOMPARE(codes.size(), zorvi::languageCount);
        QCOMPARE(keys.size(), zorvi::textCount);
        QCOMPARE(cell(0, "checkingUpdates"), QStringLiteral("Checking for updates\u2026"));
        QCOMPARE(cell(0, "validMinutes"), QStringLiteral("Valid for {minutes} minutes."));
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
            QVERIFY2(text != english || sameAsEnglish.contains(where), what);
        }
    }

    void sentencesNameTheButtonsTheyReferTo_data() { everyCell_data(); }

    void sentencesNameTheButtonsTheyReferTo()
    {
        QFETCH(int, language);
        const QString code = QString::fromLatin1(zorvi::languageCodes[language]);
        if (inflectedReferences.contains(code))
            QSKIP("the language inflects the names it refers to");
        const QString page = cell(language, "connectedDevices");
        const QString button = cell(language, "connectDevice");
        QVERIFY2(cell(language, "deviceConnectedMessage").contains(page, Qt::CaseInsensitive),
                 qPrintable(page));
        QVERIFY2(cell(language, "codeExpiredMessage").contains(button, Qt::CaseInsensitive),
                 qPrintable(button));
    }

    void variantsAreWrittenForTheirReaders_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("European and Brazilian Portuguese") << "pt"
                                                           << "pt-BR";
        QTest::newRow("Simplified and Traditional Chinese") << "zh-Hans"
                                                            << "zh-Hant";
    }

    void variantsAreWrittenForTheirReaders()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        int a = -1, b = -1;
        for (int i = 0; i < zorvi::languageCount; ++i) {
            if (first == QLatin1String(zorvi::languageCodes[i]))
                a = i;
            if (second == QLatin1String(zorvi::languageCodes[i]))
                b = i;
        }
        QVERIFY(a > 0 && b > 0);
        QVERIFY(cell(a, "connectDevice") != cell(b, "connectDevice"));
    }
};

QTEST_GUILESS_MAIN(TestTextTable)
#include "tst_texttable.moc"
