// The status icon on its own: the symbol placed on the search glyph measured
// from Nickel's search icon, the size it asks of the row, the badge following
// the update flag file, and a real tap that opens the panel over the window.

#include "logmessages.h"
#include "touchscreen.h"
#include "nickel/statusicon.h"
#include "ui/panel.h"

#include <QPainter>
#include <QtTest>

namespace {

// Nickel's search icon in small: 48 x 48, white, with a glyph box of some
// colour on rows 12 to 35.
struct SearchIcon : QWidget {
    using QWidget::QWidget;
    QColor glyph = Qt::white;
    int hintHeight = 48;

    QSize sizeHint() const override { return QSize(48, hintHeight); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        painter.fillRect(14, 12, 20, 24, glyph);
    }
};

// A status bar's icon row laid out by hand: the window is the container.
struct Row {
    QWidget window;
    SearchIcon *search;
    QWidget *icon;

    explicit Row(bool withSearchIcon = true)
        : search(withSearchIcon ? new SearchIcon(&window) : nullptr)
        , icon(zorvi::createStatusIcon(&window, search))
    {
        if (search)
            search->setGeometry(300, 0, 48, 48);
    }
};

// The outer edges of the icon's own ink (its painting alone, on a transparent
// image), to a fraction of a pixel: the outermost lines of ink along each axis
// are straight frame edges, covered as far as their strongest pixel says.
QRectF inkEdges(QWidget *icon)
{
    QImage image(icon->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    icon->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    QVector<qreal> columns(image.width()), rows(image.height());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            columns[x] = qMax(columns[x], qAlpha(image.pixel(x, y)) / 255.0);
            rows[y] = qMax(rows[y], qAlpha(image.pixel(x, y)) / 255.0);
        }
    }
    const auto edges = [](const QVector<qreal> &cover) {
        int first = 0, last = cover.size() - 1;
        while (first < last && cover[first] == 0)
            ++first;
        while (last > first && cover[last] == 0)
            --last;
        return QPointF(first + 1 - cover[first], last + cover[last]);
    };
    const QPointF x = edges(columns), y = edges(rows);
    return QRectF(QPointF(x.x(), y.x()), QPointF(x.y(), y.y()));
}

QList<zorvi::Panel *> panelsOf(QWidget &window)
{
    QList<zorvi::Panel *> panels;
    for (QObject *child : window.children())
        if (auto *panel = dynamic_cast<zorvi::Panel *>(child))
            panels << panel;
    return panels;
}

} // namespace

class TestStatusIcon : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(QString::fromLatin1(zorvi::logFile)); }

    void symbolSquare_data()
    {
        QTest::addColumn<int>("searchHint"); // -1: no search icon
        QTest::addColumn<QColor>("glyph");
        QTest::addColumn<int>("height");
        QTest::addColumn<QRectF>("square");
        QTest::addColumn<QString>("logged");
        // Glyph rows 12 to 35: centre line (12 + 35) / 2 + 0.5 = 23.5, not the
        // box's own middle at 24. Without a glyph: side 0.4 of the height.
        const QRectF onGlyph(12, 11.5, 24, 24), fallback(14, 15, 20, 20);
        const QString found = "search glyph 14,12 20x24 in 48x48",
                      blank = "search glyph 0,0 0x0 in 48x48";

        QTest::newRow("a black glyph: side 24, centred, top 11.5")
            << 48 << QColor(Qt::black) << 48 << onGlyph << found;
        QTest::newRow("a blank search icon: side 20 of 50, top 15")
            << 48 << QColor(Qt::white) << 50 << fallback << blank;
        QTest::newRow("a search icon's hint height of 0: 70 wide")
            << 0 << QColor(Qt::white) << 50 << QRectF(25, 15, 20, 20) << blank;
        QTest::newRow("no search icon: 70 wide")
            << -1 << QColor() << 50 << QRectF(25, 15, 20, 20) << QString();
        // Dark: a grey level below 128.
        QTest::newRow("grey 127 is dark (1016)")
            << 48 << QColor(127, 127, 127) << 48 << onGlyph << found;
        QTest::newRow("grey 128 is not (1024)")
            << 48 << QColor(128, 128, 128) << 50 << fallback << blank;
    }

    void symbolSquare()
    {
        QFETCH(int, searchHint);
        QFETCH(QColor, glyph);
        QFETCH(int, height);
        QFETCH(QRectF, square);
        QFETCH(QString, logged);

        Row row(searchHint >= 0);
        if (row.search) {
            row.search->hintHeight = searchHint;
            row.search->glyph = glyph;
        }
        // As the row places it: its size hint's width, the row's height.
        row.icon->setGeometry(0, 0, row.icon->sizeHint().width(), height);
        row.window.show();
        QCoreApplication::processEvents(); // the icon's zero-delay measurement
        QCOMPARE(logMessages(), logged.isEmpty() ? QStringList() : QStringList{logged});

        // The frames' outer edges, with half of the 2.2 pen beyond them in the
        // 42 x 42 design grid, to a tenth of a pixel: a centre line off by half
        // a pixel or a side off by one shows.
        const qreal scale = square.width() / 42;
        const QRectF expected(square.left() + 1.4 * scale, square.top() + 7.9 * scale, 39.2 * scale,
                              26.2 * scale);
        const QRectF edges = inkEdges(row.icon);
        QString message;
        QDebug(&message) << "ink" << edges << "expected" << expected;
        QVERIFY2((edges.topLeft() - expected.topLeft()).manhattanLength() < 0.1 &&
                     (edges.bottomRight() - expected.bottomRight()).manhattanLength() < 0.1,
                 qPrintable(message));
    }

    void badgeFollowsTheUpdateFlag()
    {
        const QString flag = QString::fromLatin1(zorvi::updateReadyFlag);
        QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
        Row row(false);
        row.icon->resize(100, 100);
        // The symbol's square is 40 wide from x = 30, its frames end at 68.7;
        // the badge's rim reaches 73.4.
        const auto badge = [&] {
            return inkEdges(row.icon).right() > 71;
        };

        QVERIFY2(badge(), "a flag there at creation shows the badge at once");
        QVERIFY(QFile::remove(flag));
        QTRY_VERIFY(!badge());
        QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
        QTRY_VERIFY(badge());
    }

    void tapOpensThePanel()
    {
        TouchScreen screen;
        Row row;
        row.icon->setGeometry(0, 0, 48, 48);
        row.window.show();
        // Taps the icon; returns the panels there were while the finger was down.
        const auto tap = [&] {
            screen.press(row.icon, QPoint(24, 24));
            const QList<zorvi::Panel *> whilePressed = panelsOf(row.window);
            screen.release(row.icon, QPoint(24, 24));
            return whilePressed;
        };

        QVERIFY2(tap().isEmpty(), "opened before the finger was lifted");
        const QList<zorvi::Panel *> opened = panelsOf(row.window);
        QCOMPARE(opened.size(), 1);
        QVERIFY(opened.first()->isVisible());

        // Closed, then tapped again: the same panel, open again.
        opened.first()->dismiss();
        tap();
        QCOMPARE(panelsOf(row.window), opened);
        QVERIFY(opened.first()->isVisible());

        // Destroyed by someone else: the next tap builds a new one.
        delete opened.first();
        tap();
        QCOMPARE(panelsOf(row.window).size(), 1);
        QVERIFY(panelsOf(row.window).first()->isVisible());
    }

    // A book opened and closed many times: each time Nickel makes a reading
    // view with a status bar, and so an icon, and deletes it again. The
    // window keeps one panel, whichever icon opened it.
    void iconsOfAWindowShareItsPanel()
    {
        TouchScreen screen;
        QWidget window;
        window.resize(600, 800);
        window.show();
        for (int cycle = 0; cycle < 40; ++cycle) {
            QWidget *statusBar = new QWidget(&window);
            QWidget *icon = zorvi::createStatusIcon(statusBar, nullptr);
            icon->setGeometry(0, 0, 48, 48);
            statusBar->show();
            screen.tap(icon, QPoint(24, 24));
            QCOMPARE(panelsOf(window).size(), 1);
            panelsOf(window).first()->dismiss();
            delete statusBar;
        }
    }

    // Nickel deletes its widgets when it likes: the search icon the icon
    // measures, or the window a status bar stood in before Nickel moved it.
    void nickelsWidgetsMayGoFirst()
    {
        TouchScreen screen;
        QScopedPointer<QWidget> first(new QWidget);
        QWidget second;
        first->resize(600, 800);
        second.resize(800, 600);
        QWidget *statusBar = new QWidget(first.data());
        SearchIcon *search = new SearchIcon(statusBar);
        QWidget *icon = zorvi::createStatusIcon(statusBar, search);
        icon->setGeometry(0, 0, 48, 48);
        first->show();
        screen.tap(icon, QPoint(24, 24));
        QCOMPARE(panelsOf(*first).size(), 1);

        delete search;
        QCOMPARE(icon->sizeHint(), QSize(70, 70));
        icon->resize(50, 50);
        QCoreApplication::processEvents(); // a measurement, without the search icon
        QVERIFY(!icon->grab().isNull());

        statusBar->setParent(&second);
        first.reset();
        second.show();
        screen.tap(icon, QPoint(24, 24));
        QCOMPARE(panelsOf(second).size(), 1);
        QVERIFY(panelsOf(second).first()->isVisible());
        QCOMPARE(panelsOf(second).first()->geometry(), second.rect());
    }
};

QTEST_MAIN(TestStatusIcon)
#include "tst_statusicon.moc"
