// Every text of every language is drawn with real glyphs in the font the
// panel takes for it: a character without one shows as an empty box on the
// reader's screen. The reader's Qt takes a line's glyphs from one family, so
// on it the panel must find a family that has them all.

#include "nickellocale.h"
#include "ui/texttable.h"
#include "ui/uitext.h"

#include <QApplication>
#include <QGlyphRun>
#include <QTextLayout>
#include <QtTest>

class TestTextGlyphs : public QObject {
    Q_OBJECT

private slots:
    void everyTextHasItsGlyphs_data()
    {
        QTest::addColumn<int>("language");
        for (int i = 0; i < zorvi::languageCount; ++i)
            QTest::newRow(zorvi::languageCodes[i]) << i;
    }

    void everyTextHasItsGlyphs()
    {
        QFETCH(int, language);
        chooseLocale(QByteArray(zorvi::languageCodes[language]).replace('-', '_'));
        QFont font = zorvi::uiFont(QApplication::font());
        font.setPixelSize(30);
        for (int key = 0; key < zorvi::textCount; ++key) {
            const QString text = QString::fromUtf8(zorvi::textTable[language][key]);
            QTextLayout layout(text, font);
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            // Glyph 0 is a font's "missing glyph" box.
            for (const QGlyphRun &run : layout.glyphRuns()) {
                QVERIFY2(!run.glyphIndexes().contains(0),
                         qPrintable(QStringLiteral("%1/%2 in %3: %4")
                                        .arg(QLatin1String(zorvi::languageCodes[language]),
                                             QLatin1String(zorvi::textKeys[key]),
                                             run.rawFont().familyName(), text)));
            }
        }
    }
};

QTEST_MAIN(TestTextGlyphs)
#include "tst_textglyphs.moc"
