// Choosing the language from Nickel's setting, looking texts up, and giving
// keyed widgets a new language. Runs in a private mount namespace, so
// Nickel's configuration file can be written where the reader keeps it.

#include "nickellocale.h"
#include "plugin/devicepaths.h"
#include "ui/texttable.h"
#include "ui/uitext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

QString row(int index)
{
    return QString::fromLatin1(zorvi::languageCodes[index]);
}

// The language chosen, told by the table row whose every text uiText gives.
QString chosenLanguage()
{
    for (int i = 0; i < zorvi::languageCount; ++i) {
        bool all = true;
        for (int key = 0; key < zorvi::textCount && all; ++key)
            all =
                zorvi::uiText(zorvi::textKeys[key]) == QString::fromUtf8(zorvi::textTable[i][key]);
        if (all)
            return row(i);
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
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("locale");
        QTest::newRow("no setting means English") << QByteArray() << "en"
                                                  << "en";
        QTest::newRow("an empty setting means English") << QByteArray("") << "en"
                                                        << "en";
        QTest::newRow("a country falls back to its language") << QByteArray("de_DE") << "de"
                                                              << "de";
        QTest::newRow("Brazilian Portuguese has its own row") << QByteArray("pt_BR") << "pt-BR"
                                                              << "pt_BR";
        QTest::newRow("codes are compared ignoring case") << QByteArray("PT-BR") << "pt-BR"
                                                          << "pt_BR";
        QTest::newRow("Portugal's Portuguese") << QByteArray("pt_PT") << "pt"
                                               << "pt";
        QTest::newRow("plain Portuguese") << QByteArray("pt") << "pt"
                                          << "pt";
        QTest::newRow("mainland Chinese is Simplified") << QByteArray("zh_CN") << "zh-Hans"
                                                        << "zh_Hans";
        QTest::newRow("Taiwan's Chinese is Traditional") << QByteArray("zh_TW") << "zh-Hant"
                                                         << "zh_Hant";
        QTest::newRow("Hong Kong's Chinese is Traditional") << QByteArray("zh_HK") << "zh-Hant"
                                                            << "zh_Hant";
        QTest::newRow("a lower-case region still counts") << QByteArray("zh-hk") << "zh-Hant"
                                                          << "zh_Hant";
        QTest::newRow("a script name counts too") << QByteArray("zh_Hant") << "zh-Hant"
                                                  << "zh_Hant";
        QTest::newRow("Nynorsk reads Bokmål") << QByteArray("nn_NO") << "nb"
                                              << "nb";
        QTest::newRow("plain Norwegian reads Bokmål") << QByteArray("no") << "nb"
                                                      << "nb";
        QTest::newRow("the language part is lower-cased") << QByteArray("EN_us") << "en"
                                                          << "en";
        QTest::newRow("a language without a row means English") << QByteArray("sr") << "en"
                                                                << "en";
        QTest::newRow("right-to-left Hebrew") << QByteArray("he_IL") << "he"
                                              << "he";
    }

    void languageFromNickelSetting()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QString, language);
        QFETCH(QString, locale);
        chooseLocale("ja_JP"); // start elsewhere, so a stale choice cannot pass
        chooseLocale(setting);
        QCOMPARE(chosenLanguage(), language);
        // Dates and numbers follow the language and its script; Qt fills in
        // the region.
        const QLocale expected(locale);
        QCOMPARE(zorvi::uiLocale().language(), expected.language());
        QCOMPARE(zorvi::uiLocale().script(), expected.script());
    }

    void missingConfigurationMeansEnglish()
    {
        chooseLocale("fi_FI");
        QVERIFY(QFile::remove(QString::fromLatin1(zorvi::nickelConfigFile)));
        zorvi::loadUiLanguage();
        QCOMPARE(chosenLanguage(), QStringLiteral("en"));
    }

    void lookup()
    {
        chooseLocale("de_DE");
        QCOMPARE(zorvi::uiText("close"), QString::fromUtf8(zorvi::textTable[4][2]));
        QCOMPARE(zorvi::uiText("noSuchKey"), QStringLiteral("noSuchKey"));
        QCOMPARE(zorvi::uiText("Close"), QStringLiteral("Close")); // keys are case-sensitive
        QCOMPARE(zorvi::languageIndex(QStringLiteral("ZH-hant")), 29);
        QCOMPARE(zorvi::languageIndex(QStringLiteral("zh")), -1);
    }

    void retranslateSetsKeyedWidgets()
    {
        chooseLocale("en_GB");
        QWidget root;
        auto *title = new QLabel(&root);
        auto *back = new QPushButton(&root);
        auto *nested = new QLabel(new QWidget(&root));
        auto *plain = new QLabel(QStringLiteral("Pixel 8"), &root);
        auto *emptyKey = new QLabel(QStringLiteral("as set"), &root);
        emptyKey->setProperty("zorviTextKey", QString());
        zorvi::bindText(title, "done");
        zorvi::bindText(back, "back");
        zorvi::bindText(nested, "cancel");
        root.setProperty("zorviTextKey", QStringLiteral("close"));
        QCOMPARE(title->text(), QStringLiteral("Done"));

        chooseLocale("fr_FR");
        zorvi::retranslate(&root);
        QCOMPARE(title->text(), zorvi::uiText("done"));
        QCOMPARE(back->text(), zorvi::uiText("back"));
        QCOMPARE(nested->text(), zorvi::uiText("cancel"));
        QVERIFY(title->text() != QStringLiteral("Done"));
        QCOMPARE(plain->text(), QStringLiteral("Pixel 8"));
        QCOMPARE(emptyKey->text(), QStringLiteral("as set"));
    }
};

QTEST_MAIN(TestUiText)
#include "tst_uitext.moc"
