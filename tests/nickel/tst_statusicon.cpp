// The status icon on its own: the symbol placed on the search glyph measured
// from Nickel's search icon, the size it asks of the row, the badge following
// the update flag file, and a real tap that opens the panel over the window.

#include "logmessages.h"
#include "nickel/statusicon.h"
#include "plugin/devicepaths.h"
#include "ui/panel.h"
#include "ui/uitext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QPainter>
#include <QRegularExpression>
#include <QtTest>

namespace {

// Nickel's search icon in small: a ground and, optionally, a black glyph box.
struct SearchIcon : QWidget {
    using QWidget::QWidget;
    QColor ground = Qt::white;
    QRect glyph;
    int hintHeight = 48;

    QSize sizeHint() const override { return QSize(48, hintHeight); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        // Source, so that a transparent ground reaches the grab as it is.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), ground);
        if (!glyph.isNull())
            painter.fillRect(glyph, Qt::black);
    }
};

// A status bar's icon row laid out by hand: the search icon 48 x 48 beside
// the status icon, whose geometry each test sets.
struct Row {
    QWidget window;
    QWidget container{&window};
    SearchIcon *search = nullptr;
    QWidget *icon = nullptr;

    explicit Row(bool withSearchIcon = true)
    {
        window.resize(400, 200);
        container.setGeometry(0, 0, 400, 120);
        if (withSearchIcon) {
            search = new SearchIcon(&container);
            search->setObjectName(QStringLiteral("searchIcon"));
            search->setGeometry(300, 0, 48, 48);
        }
        icon = zorvi::createStatusIcon(&container, &window, search);
    }
};

QStringList glyphLines()
{
    return logMessages().filter(QRegularExpression(QStringLiteral("^search glyph ")));
}

// Runs the event loop until a zero-delay timer started now has fired, and
// with it every zero-delay timer started before (the icon's measurement).
void settle()
{
    QTimer timer;
    timer.setSingleShot(true);
    QSignalSpy fired(&timer, &QTimer::timeout);
    timer.start(0);
    QVERIFY(fired.wait(1000));
}

// The icon's own painting alone, on a transparent image: alpha is ink.
QImage ink(QWidget *icon)
{
    QImage image(icon->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    icon->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// The ink's outer edges to a fraction of a pixel: the outermost row or
// column of ink, each a straight stroke edge of a frame, is covered as far
// as its strongest pixel's alpha says.
QRectF inkEdges(const QImage &image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                box |= QRect(x, y, 1, 1);
    const auto cover = [&](int x0, int y0, int dx, int dy, int n) {
        int strongest = 0;
        for (int i = 0; i < n; ++i)
            strongest = qMax(strongest, qAlpha(image.pixel(x0 + i * dx, y0 + i * dy)));
        return strongest / 255.0;
    };
    if (box.isNull())
        return QRectF();
    const qreal left = box.left() + 1 - cover(box.left(), box.top(), 0, 1, box.height());
    const qreal right = box.right() + cover(box.right(), box.top(), 0, 1, box.height());
    const qreal top = box.top() + 1 - cover(box.left(), box.top(), 1, 0, box.width());
    const qreal bottom = box.bottom() + cover(box.left(), box.bottom(), 1, 0, box.width());
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

// The symbol's ink in its 42 x 42 design grid: its frames' outer edges with
// half of the 2.2 pen beyond them.
QRectF expectedInk(const QRectF &square)
{
    const qreal scale = square.width() / 42;
    return QRectF(square.left() + 1.4 * scale, square.top() + 7.9 * scale, 39.2 * scale,
                  26.2 * scale);
}

// Grey of a grabbed pixel as seen over a white status bar.
int greyOnWhite(QRgb pixel)
{
    const int alpha = qAlpha(pixel);
    return (qGray(pixel) * alpha + 255 * (255 - alpha)) / 255;
}

struct PaintCounter : QObject {
    int count = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        count += e->type() == QEvent::Paint;
        return false;
    }
};

enum SearchState { NoSearchIcon, HiddenSearchIcon, ShownSearchIcon };

QList<zorvi::Panel *> panelsOf(QWidget &window)
{
    QList<zorvi::Panel *> panels;
    for (QObject *child : window.children())
        if (auto *panel = dynamic_cast<zorvi::Panel *>(child))
            panels << panel;
    return panels;
}

void chooseLocale(const QByteArray &locale)
{
    const QString path = QString::fromLatin1(zorvi::nickelConfigFile);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[ApplicationPreferences]\nCurrentLocale=" + locale + "\n");
}

} // namespace

class TestStatusIcon : public QObject {
    Q_OBJECT

private slots:
    void init();
    void symbolSquare_data();
    void symbolSquare();
    void darkPixels_data();
    void darkPixels();
    void measuredUntilAGlyphIsFound();
    void sizeHint_data();
    void sizeHint();
    void badgeFollowsTheUpdateFlag();
    void tapOpensThePanel();
};

void TestStatusIcon::init()
{
    QFile::remove(QString::fromLatin1(zorvi::logFile));
    QFile::remove(QString::fromLatin1(zorvi::updateReadyFlag));
}

void TestStatusIcon::symbolSquare_data()
{
    QTest::addColumn<int>("searchState");
    QTest::addColumn<QRect>("glyph");
    QTest::addColumn<QSize>("iconSize");
    QTest::addColumn<QRectF>("square");
    QTest::addColumn<QString>("logLine");

    // Rows 12 to 35: centre line (12 + 35) / 2 + 0.5 = 23.5, not the box's
    // own middle at 24.
    QTest::newRow("a glyph on rows 12 to 35 of 48: side 24, centred, top 11.5")
        << int(ShownSearchIcon) << QRect(14, 12, 20, 24) << QSize(48, 48)
        << QRectF(12, 11.5, 24, 24) << "search glyph 14,12 20x24 in 48x48";
    QTest::newRow("a blank search icon: side 0.4 of a 50-high icon, top 15")
        << int(ShownSearchIcon) << QRect() << QSize(50, 50) << QRectF(15, 15, 20, 20)
        << "search glyph 0,0 0x0 in 48x48";
    QTest::newRow("a hidden search icon is not measured")
        << int(HiddenSearchIcon) << QRect(14, 12, 20, 24) << QSize(50, 50) << QRectF(15, 15, 20, 20)
        << QString();
    QTest::newRow("no search icon: side 0.4 of the height, centred in a wider icon")
        << int(NoSearchIcon) << QRect() << QSize(70, 50) << QRectF(25, 15, 20, 20) << QString();
}

void TestStatusIcon::symbolSquare()
{
    QFETCH(int, searchState);
    QFETCH(QRect, glyph);
    QFETCH(QSize, iconSize);
    QFETCH(QRectF, square);
    QFETCH(QString, logLine);

    Row row(searchState != NoSearchIcon);
    if (row.search) {
        row.search->glyph = glyph;
        row.search->setVisible(searchState == ShownSearchIcon);
    }
    row.icon->setGeometry(QRect(QPoint(0, 0), iconSize));
    row.window.show();
    settle();
    QCOMPARE(glyphLines(), logLine.isEmpty() ? QStringList() : QStringList{logLine});

    // The frames' outer edges, to a tenth of a pixel: a centre line off by
    // half a pixel or a side off by one shows.
    const QRectF edges = inkEdges(ink(row.icon)), expected = expectedInk(square);
    const QString message = QStringLiteral("ink from %1,%2 to %3,%4")
                                .arg(edges.left())
                                .arg(edges.top())
                                .arg(edges.right())
                                .arg(edges.bottom());
    QVERIFY2(qAbs(edges.left() - expected.left()) < 0.1 &&
                 qAbs(edges.right() - expected.right()) < 0.1 &&
                 qAbs(edges.top() - expected.top()) < 0.1 &&
                 qAbs(edges.bottom() - expected.bottom()) < 0.1,
             qPrintable(message));
}

void TestStatusIcon::darkPixels_data()
{
    QTest::addColumn<QColor>("ground");
    QTest::addColumn<bool>("dark");

    QTest::newRow("grey 127 is dark (3:4:1 weights give 1016)") << QColor(127, 127, 127) << true;
    QTest::newRow("grey 128 is not (1024)") << QColor(128, 128, 128) << false;
    QTest::newRow("full green is dark (1020)") << QColor(0, 255, 0) << true;
    QTest::newRow("full green with blue 4 is not (1024)") << QColor(0, 255, 4) << false;
    QTest::newRow("transparent black is dark: alpha plays no part") << QColor(0, 0, 0, 0) << true;
    QTest::newRow("opaque white is not") << QColor(Qt::white) << false;
}

void TestStatusIcon::darkPixels()
{
    QFETCH(QColor, ground);
    QFETCH(bool, dark);

    Row row;
    row.search->ground = ground;
    row.icon->setGeometry(0, 0, 48, 48);
    row.window.show();
    settle();
    QCOMPARE(glyphLines(), QStringList{dark ? QStringLiteral("search glyph 0,0 48x48 in 48x48")
                                            : QStringLiteral("search glyph 0,0 0x0 in 48x48")});
}

void TestStatusIcon::measuredUntilAGlyphIsFound()
{
    Row row;
    row.icon->setGeometry(0, 0, 48, 48);
    row.window.show();
    settle();
    QCOMPARE(glyphLines().size(), 1);

    // Blank at first: measured again at the next resize, then never again.
    row.search->glyph = QRect(14, 12, 20, 24);
    row.icon->resize(48, 50);
    settle();
    row.icon->resize(48, 52);
    settle();
    QCOMPARE(glyphLines(), (QStringList{QStringLiteral("search glyph 0,0 0x0 in 48x48"),
                                        QStringLiteral("search glyph 14,12 20x24 in 48x48")}));
}

void TestStatusIcon::sizeHint_data()
{
    QTest::addColumn<bool>("withSearchIcon");
    QTest::addColumn<int>("searchHintHeight");
    QTest::addColumn<int>("side");

    QTest::newRow("the search icon's hint height") << true << 48 << 48;
    QTest::newRow("a hint height of 1 is still followed") << true << 1 << 1;
    QTest::newRow("a hint height of 0 gives 70") << true << 0 << 70;
    QTest::newRow("no search icon gives 70") << false << 0 << 70;
}

void TestStatusIcon::sizeHint()
{
    QFETCH(bool, withSearchIcon);
    QFETCH(int, searchHintHeight);
    QFETCH(int, side);

    Row row(withSearchIcon);
    if (row.search)
        row.search->hintHeight = searchHintHeight;
    QCOMPARE(row.icon->sizeHint(), QSize(side, side));
    QCOMPARE(row.icon->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(row.icon->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
}

void TestStatusIcon::badgeFollowsTheUpdateFlag()
{
    const QString flag = QString::fromLatin1(zorvi::updateReadyFlag);
    QVERIFY(QFile(flag).open(QIODevice::WriteOnly));

    Row row(false);
    row.icon->setGeometry(0, 0, 100, 100);
    // The symbol's square: side 40 at (30, 30). This pixel is the design
    // grid's (38.9 to 39.9, 10.5 to 11.6): inside the badge's black disc
    // (centre (39, 14), radius 4.2 inside its white rim), clear of the frame.
    const QPoint inBadge(67, 40);
    const auto badge = [&] {
        return greyOnWhite(row.icon->grab().toImage().pixel(inBadge)) < 64;
    };
    const auto noBadge = [&] {
        return greyOnWhite(row.icon->grab().toImage().pixel(inBadge)) > 192;
    };

    QVERIFY2(badge(), "a flag there at creation shows the badge at once");
    row.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&row.window));

    QVERIFY(QFile::remove(flag));
    QTRY_VERIFY_WITH_TIMEOUT(noBadge(), 3000);
    settle();

    PaintCounter paints;
    row.icon->installEventFilter(&paints);
    auto *watcher = row.icon->findChild<QFileSystemWatcher *>();
    QVERIFY(watcher);
    QSignalSpy changed(watcher, &QFileSystemWatcher::directoryChanged);
    QVERIFY(QFile(QStringLiteral("/tmp/another-file")).open(QIODevice::WriteOnly));
    QVERIFY(changed.wait(3000));
    settle();
    QCOMPARE(paints.count, 0);

    QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
    QTRY_VERIFY_WITH_TIMEOUT(paints.count > 0, 3000);
    QVERIFY(badge());
}

void TestStatusIcon::tapOpensThePanel()
{
    static QTouchDevice *const device = QTest::createTouchDevice();
    Row row;
    row.window.resize(600, 800);
    row.icon->setGeometry(0, 0, 48, 48);
    row.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&row.window));
    const auto tap = [&] {
        QTest::touchEvent(&row.window, device).press(0, QPoint(24, 24), row.icon);
        QTest::touchEvent(&row.window, device).release(0, QPoint(24, 24), row.icon);
    };

    chooseLocale("de_DE");
    QTest::touchEvent(&row.window, device).press(0, QPoint(24, 24), row.icon);
    QVERIFY2(panelsOf(row.window).isEmpty(), "the finger is not lifted yet");
    QTest::touchEvent(&row.window, device).release(0, QPoint(24, 24), row.icon);
    QCOMPARE(panelsOf(row.window).size(), 1);
    QPointer<zorvi::Panel> first = panelsOf(row.window).first();
    QVERIFY(first->isVisible());
    QCOMPARE(first->geometry(), row.window.rect());
    QCOMPARE(zorvi::uiLocale().language(), QLocale::German);

    // Closed, then tapped again in another language: the same panel.
    first->dismiss();
    chooseLocale("ja_JP");
    tap();
    QCOMPARE(panelsOf(row.window), QList<zorvi::Panel *>{first});
    QVERIFY(first->isVisible());
    QCOMPARE(zorvi::uiLocale().language(), QLocale::Japanese);

    // Destroyed by someone else: the next tap builds a new one.
    delete first;
    QVERIFY(panelsOf(row.window).isEmpty());
    tap();
    QCOMPARE(panelsOf(row.window).size(), 1);
    QVERIFY(panelsOf(row.window).first()->isVisible());
}

QTEST_MAIN(TestStatusIcon)
#include "tst_statusicon.moc"
