// Choosing the language from Nickel's setting, looking texts up, and giving
// keyed widgets a new language. Runs in a private mount namespace, so
// Nickel's configuration file can be written where the reader keeps it.

#include "nickellocale.h"
#include "plugin/devicepaths.h"
#include "ui/texttable.h"
#include "ui/uitext.h"

#include <QLabel>
#include <QPushButton>
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

} // namespace

class TestUiText : public QObject {
    Q_OBJECT

private slots:
    void languageFromNickelSetting_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QString>("language"); // the table's row
        QTest::newRow("no setting means English") << QByteArray() << "en";
        QTest::newRow("an empty setting means English") << QByteArray("") << "en";
        QTest::newRow("a language without a row means English") << QByteArray("sr") << "en";
        QTest::newRow("a country falls back to its language") << QByteArray("de_DE") << "de";
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
        QTest::newRow("right-to-left Hebrew") << QByteArray("he_IL") << "he";
    }

    void languageFromNickelSetting()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QString, language);
        chooseLocale("ja_JP"); // start elsewhere, so a stale choice cannot pass
        chooseLocale(setting);
        QCOMPARE(chosenLanguage(), language);
        // Dates and numbers follow the language and its script; Qt fills in
        // the region.
        const QLocale expected(QString(language).replace('-', '_'));
        QCOMPARE(zorvi::uiLocale().language(), expected.language());
        QCOMPARE(zorvi::uiLocale().script(), expected.script());
    }

    void missingConfigurationMeansEnglish()
    {
        chooseLocale("fi_FI");
        QVERIFY(QFile::remove(QString::fromLatin1(zorvi::nickelConfigFile)));
        zorvi::loadUiLanguage();
        QCOMPARE(chosenLanguage(), QStringLiteral("en"));
        // An unknown key shows as itself rather than as nothing.
        QCOMPARE(zorvi::uiText("noSuchKey"), QStringLiteral("noSuchKey"));
    }

    void retranslateSetsKeyedWidgets()
    {
        chooseLocale("en_GB");
        QWidget root;
        auto *title = new QLabel(&root);
        auto *back = new QPushButton(&root);
        auto *nested = new QLabel(new QWidget(&root));
        auto *plain = new QLabel(QStringLiteral("Pixel 8"), &root);
        zorvi::bindText(title, "done");
        zorvi::bindText(back, "back");
        zorvi::bindText(nested, "cancel");
        QCOMPARE(title->text(), QStringLiteral("Done"));

        chooseLocale("fr_FR");
        zorvi::retranslate(&root);
        QCOMPARE(title->text(), zorvi::uiText("done"));
        QCOMPARE(back->text(), zorvi::uiText("back"));
        QCOMPARE(nested->text(), zorvi::uiText("cancel"));
        QVERIFY(title->text() != QStringLiteral("Done"));
        QCOMPARE(plain->text(), QStringLiteral("Pixel 8")); // a name is not a text of the table
    }
};

QTEST_MAIN(TestUiText)
#include "tst_uitext.moc"
