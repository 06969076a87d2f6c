// The panel's texts: the language chosen from Nickel's setting (written where
// the reader keeps it, in the private mount namespace), and every cell of the
// table checked against the English row: a translation that loses a marker
// shows "{minutes}", one that drops the product name or names the wrong
// button misleads. Every text is drawn with real glyphs by the panel's own
// labels and buttons: a character without one shows as an empty box on the
// reader's screen, and the reader's Qt takes a line's glyphs from one
// family, so the panel must name a family that has them all. (Keyed widgets
// given a new language: tst_panel.)

#include "nickellocale.h"
#include "plugin/devicepaths.h"
#include "ui/panel.h"
#include "ui/texttable.h"
#include "ui/uitext.h"

#include <QGlyphRun>
#include <QLabel>
#include <QPushButton>
#include <QTextLayout>
#include <QtTest>

namespace {

// The language chosen, told by the table row whose every text uiText gives.
QString chosenLanguage()
{
    for (int i = 0; i < zorvi::languageCount; ++i) {
        bool all = true;
        for (int key = 0; key < zorvi::textCount && all; ++key)
            all =
                zorvi::uiText(zorvi::textKeys[key]) == QString::fromUtf8(zorvi::textTable[i][key]);
        if (all)
            return QString::fromLatin1(zorvi::languageCodes[i]);
    }
    return QString();
}

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

class TestUiText : public QObject {
    Q_OBJECT

private slots:
    void languageFromNickelSetting_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QString>("language"); // the table's row
        QTest::newRow("no configuration file means English") << QByteArray("no file") << "en";
        QTest::newRow("no setting means English") << QByteArray() << "en";
        QTest::newRow("a language without a row means English") << QByteArray("sr") << "en";
        QTest::newRow("the language part is read ignoring case") << QByteArray("EN_us") << "en";
        QTest::newRow("Brazilian Portuguese has its own row") << QByteArray("pt_BR") << "pt-BR";
        QTest::newRow("a whole code is read ignoring case") << QByteArray("PT-BR") << "pt-BR";
        QTest::newRow("Portugal's Portuguese") << QByteArray("pt_PT") << "pt";
        QTest::newRow("mainland Chinese is Simplified") << QByteArray("zh_CN") << "zh-Hans";
        QTest::newRow("Taiwan's Chinese is Traditional") << QByteArray("zh_TW") << "zh-Hant";
        QTest::newRow("so is Hong Kong's, its region in lower case")
            << QByteArray("zh-hk") << "zh-Hant";
        QTest::newRow("a script name counts too") << QByteArray("zh_Hant") << "zh-Hant";
        QTest::newRow("Nynorsk reads Bokmål") << QByteArray("nn_NO") << "nb";
        QTest::newRow("plain Norwegian reads Bokmål") << QByteArray("no") << "nb";
    }

    void languageFromNickelSetting()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QString, language);
        chooseLocale("ja_JP"); // start elsewhere, so a stale choice cannot pass
        if (setting == "no file") {
            QVERIFY(QFile::remove(QString::fromLatin1(zorvi::nickelConfigFile)));
            zorvi::loadUiLanguage();
        } else {
            chooseLocale(setting);
        }
        QCOMPARE(chosenLanguage(), language);
        // An unknown key shows as itself rather than as nothing.
        QCOMPARE(zorvi::uiText("noSuchKey"), QStringLiteral("noSuchKey"));
        // Dates and numbers follow the language and its script; Qt fills in
        // the region.
        const QLocale expected(QString(language).replace('-', '_'));
        QCOMPARE(zorvi::uiLocale().language(), expected.language());
        QCOMPARE(zorvi::uiLocale().script(), expected.script());
    }

    // French writes the first of a month as an ordinal, and only the first;
    // other languages write it plainly.
    void datesAsWritten_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("written");
        QTest::newRow("the first of a month in French")
            << QByteArray("fr_FR") << QDate(2026, 12, 1) << QString::fromUtf8("1er décembre 2026");
        QTest::newRow("the second in French")
            << QByteArray("fr_FR") << QDate(2026, 12, 2) << QString::fromUtf8("2 décembre 2026");
        QTest::newRow("the first in English")
            << QByteArray("en_US") << QDate(2026, 12, 1) << QString::fromUtf8("December 1, 2026");
    }

    void datesAsWritten()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QDate, date);
        chooseLocale(setting);
        QTEST(zorvi::uiDate(date), "written");
    }

    void everyLanguage_data()
    {
        QTest::addColumn<int>("language");
        for (int i = 0; i < zorvi::languageCount; ++i)
            QTest::newRow(zorvi::languageCodes[i]) << i;
    }

    void everyLanguage()
    {
        QFETCH(int, language);
        const QString code = QString::fromLatin1(zorvi::languageCodes[language]);
        // A code or key given twice would hide the second row or text:
        // lookups find the first.
        QCOMPARE(zorvi::languageIndex(code), language);
        QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
        // A label and a button of the panel, in the fonts its style gives them.
        chooseLocale(code.toLatin1().replace('-', '_'));
        QWidget window;
        window.resize(1072, 1448);
        zorvi::Panel panel(&window);
        panel.open();
        QLabel *title = panel.findChild<QLabel *>(QStringLiteral("title"));
        QPushButton *panelButton = panel.findChild<QPushButton *>();
        title->ensurePolished();
        panelButton->ensurePolished();
        for (int key = 0; key < zorvi::textCount; ++key) {
            const QByteArray raw(zorvi::textTable[language][key]);
            const QString text = QString::fromUtf8(raw);
            const QString english = QString::fromUtf8(zorvi::textTable[0][key]);
            const QByteArray what = code.toUtf8() + '/' + zorvi::textKeys[key] + ": " + raw;
            QCOMPARE(column(zorvi::textKeys[key]), key);

            QTextCodec::ConverterState state;
            utf8->toUnicode(raw.constData(), raw.size(), &state);
            QVERIFY2(state.invalidChars == 0 && state.remainingChars == 0, what);
            QVERIFY2(!text.trimmed().isEmpty() && text == text.trimmed(), what);
            QVERIFY2(markers(text) == markers(english), what);
            QVERIFY2(text.count(QLatin1String("Zorvi")) >= english.count(QLatin1String("Zorvi")),
                     what);
            QVERIFY2(!text.contains(QLatin1String("...")), what);
            QVERIFY2(language == 0 || text != english, what); // left untranslated

            for (const QFont &font : {title->font(), panelButton->font()}) {
                QTextLayout layout(text, font);
                layout.beginLayout();
                layout.createLine();
                layout.endLayout();
                // Glyph 0 is a font's "missing glyph" box.
                for (const QGlyphRun &run : layout.glyphRuns())
                    QVERIFY2(
                        !run.glyphIndexes().contains(0),
                        qPrintable(QString::fromUtf8(what) + " in " + run.rawFont().familyName()));
            }
        }

        // A pattern that drops a field, or names the weekday, writes a date
        // the owner cannot read as the day of the pairing.
        QLocale locale(QString(code).replace('-', '_'));
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        const QString date =
            locale.toString(QDate(2021, 12, 9), QString::fromUtf8(zorvi::dateFormats[language]));
        QVERIFY2(date.contains(locale.toString(9)) && date.contains(locale.toString(2021)) &&
                     (date.contains(locale.monthName(12)) || date.contains(locale.toString(12))) &&
                     !date.contains(locale.dayName(4)),
                 qPrintable(date));

        // Sentences that refer to a page or a button name it as it reads.
        const QString page = cell(language, "connectedDevices");
        const QString button = cell(language, "connectDevice");
        QVERIFY2(cell(language, "deviceConnectedMessage").contains(page, Qt::CaseInsensitive),
                 qPrintable(page));
        QVERIFY2(cell(language, "codeExpiredMessage").contains(button, Qt::CaseInsensitive),
                 qPrintable(button));

        // The paging buttons sit side by side below the device list, on a
        // page that also has a back button: two that read alike leave the
        // owner guessing which one turns the page and which one leaves it.
        const QString texts[] = {cell(language, "previousPage"), cell(language, "nextPage"),
                                 cell(language, "back")};
        for (int i = 0; i < 3; ++i) {
            for (int j = i + 1; j < 3; ++j)
                QVERIFY2(texts[i].compare(texts[j], Qt::CaseInsensitive) != 0,
                         qPrintable(texts[i] + QLatin1String(" / ") + texts[j]));
        }
    }
};

QTEST_MAIN(TestUiText)
#include "tst_uitext.moc"
