// Every text of every language is drawn with real glyphs by the panel's own
// labels and buttons: a character without one shows as an empty box on the
// reader's screen. The reader's Qt takes a line's glyphs from one family, so
// on it the panel must name a family that has them all.

#include "nickellocale.h"
#include "ui/panel.h"
#include "ui/texttable.h"

#include <QGlyphRun>
#include <QLabel>
#include <QPushButton>
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
        QWidget window;
        window.resize(1072, 1448);
        zorvi::Panel panel(&window);
        panel.open();
        // A label and a button of the panel, in the fonts its style gives them.
        QLabel *label = panel.findChild<QLabel *>(QStringLiteral("title"));
        QPushButton *button = panel.findChild<QPushButton *>();
        label->ensurePolished();
        button->ensurePolished();
        for (int key = 0; key < zorvi::textCount; ++key) {
            const QString text = QString::fromUtf8(zorvi::textTable[language][key]);
            for (const QFont &font : {label->font(), button->font()}) {
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
    }
};

QTEST_MAIN(TestTextGlyphs)
#include "tst_textglyphs.moc"
