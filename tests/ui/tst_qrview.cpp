// The QR view's pixels, compared exactly with golden images, with the
// placement of single modules worked out by hand, and with what must stay
// unpainted or light.
//
// The golden images in data/ are drawn by reference() below, which decides
// each pixel on its own instead of filling squares as the view does. To draw
// them again, run the test with ZORVI_WRITE_GOLDEN set to the data folder.

#include "ui/qrview.h"

#include <QtTest>

#include <algorithm>
#include <climits>

using zorvi::QrView;

namespace {

// The view never paints this colour: a pixel that still shows it was left
// unpainted.
const QRgb unpainted = qRgb(255, 0, 255);
const QRgb white = qRgb(255, 255, 255);
const QRgb black = qRgb(0, 0, 0);

QImage blank(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(unpainted);
    return image;
}

// What the view paints itself, without any background that Qt would add.
QImage rendered(QrView &view)
{
    QImage image = blank(view.width(), view.height());
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// The expected picture, pixel by pixel: which module, if any, does this pixel
// lie in, and is that module there and dark?
QImage reference(int w, int h, int size, const QString &modules)
{
    QImage image = blank(w, h);
    if (size < 1)
        return image;
    const qint64 n = qint64(size) + 8;
    const qint64 m = std::max<qint64>(std::min(w, h) / n, 1);
    // Top-left corner of the quiet zone; the odd spare pixel goes right or down.
    const qint64 left = (w - m * n) / 2;
    const qint64 top = (h - m * n) / 2;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const qint64 row = floorDiv(y - top, m) - 4;
            const qint64 col = floorDiv(x - left, m) - 4;
            const qint64 index = row * size + col;
            const bool dark = row >= 0 && row < size && col >= 0 && col < size &&
                              index < modules.size() && modules.at(int(index)) == QLatin1Char('1');
            image.setPixel(x, y, dark ? black : white);
        }
    }
    return image;
}

// A symbol with a QR code's three finder patterns where they fit and its
// other modules scattered; light modules are written with several characters.
QString sampleSymbol(int size)
{
    QString modules;
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            bool dark = (uint(r * size + c) * 2654435761u) >> 31;
            const QPoint corners[] = {{0, 0}, {size - 7, 0}, {0, size - 7}};
            for (const QPoint &corner : corners) {
                const int dr = r - corner.y(), dc = c - corner.x();
                if (size >= 15 && dr >= -1 && dr <= 7 && dc >= -1 && dc <= 7) {
                    const int ring = std::max(std::abs(dr - 3), std::abs(dc - 3));
                    dark = ring == 3 || ring <= 1;
                }
            }
            modules += dark ? QLatin1Char('1') : QLatin1Char("0 x"[(r + c) % 3]);
        }
    }
    return modules;
}

QString oneDarkModule(int size, int row, int col)
{
    QString modules(size * size, QLatin1Char('0'));
    modules[row * size + col] = QLatin1Char('1');
    return modules;
}

// Dark modules as far as the eye can see: a view that reads past the end of
// a matrix made from this buffer paints modules that are not in it.
const QVector<QChar> &darkBuffer()
{
    static const QVector<QChar> buffer(64, QLatin1Char('1'));
    return buffer;
}

} // namespace

class TestQrView : public QObject {
    Q_OBJECT

private slots:
    void golden_data();
    void golden();
    void placement_data();
    void placement();
    void nothingPainted_data();
    void nothingPainted();
    void lightCharacters_data();
    void lightCharacters();
    void shortMatrix_data();
    void shortMatrix();
};

void TestQrView::golden_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("viewSize");
    QTest::addColumn<int>("size");

    QTest::newRow("a 25-module symbol in a 536 by 600 view has 16-pixel modules from (68, 100)")
        << "qr-536x600-25.png" << QSize(536, 600) << 25;
    QTest::newRow("a 21-module symbol in a 20 by 20 view is one pixel a module, clipped")
        << "qr-20x20-21.png" << QSize(20, 20) << 21;
    QTest::newRow("a single dark module in a 90 by 90 view is one 10-pixel square")
        << "qr-90x90-1.png" << QSize(90, 90) << 1;
    QTest::newRow("odd spare pixels in a 100 by 96 view stay on the right and at the bottom")
        << "qr-100x96-5.png" << QSize(100, 96) << 5;
}

void TestQrView::golden()
{
    QFETCH(QString, file);
    QFETCH(QSize, viewSize);
    QFETCH(int, size);

    const QString modules = sampleSymbol(size);
    const QString goldenDir = qEnvironmentVariable("ZORVI_WRITE_GOLDEN");
    if (!goldenDir.isEmpty()) {
        const QImage expected = reference(viewSize.width(), viewSize.height(), size, modules);
        QVERIFY(expected.save(goldenDir + QLatin1Char('/') + file));
        QSKIP("golden image written");
    }

    const QString goldenPath = QFINDTESTDATA("data/" + file);
    QVERIFY2(!goldenPath.isEmpty(), qPrintable(file));
    const QImage golden = QImage(goldenPath).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(golden.size(), viewSize);
    // The stored image still agrees with the pixel-by-pixel reference.
    QVERIFY(golden == reference(viewSize.width(), viewSize.height(), size, modules));

    QrView view(nullptr);
    view.resize(viewSize);
    view.size = size;
    view.modules = modules;
    const QImage actual = rendered(view);
    if (actual != golden) {
        const QString actualPath =
            QCoreApplication::applicationDirPath() + QStringLiteral("/qrview-actual-") + file;
        actual.save(actualPath);
        QFAIL(
            qPrintable(QStringLiteral("view differs from %1, see %2").arg(goldenPath, actualPath)));
    }
}

void TestQrView::placement_data()
{
    QTest::addColumn<QSize>("viewSize");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");
    // The black pixels; empty when the module lies outside the view.
    QTest::addColumn<QRect>("square");

    QTest::newRow("in a 536 by 600 view of 25 modules row 0 column 0 covers x 68-83, y 100-115")
        << QSize(536, 600) << 25 << 0 << 0 << QRect(68, 100, 16, 16);
    QTest::newRow("in the same view the last module ends 64 pixels inside the quiet zone's edge")
        << QSize(536, 600) << 25 << 24 << 24 << QRect(452, 484, 16, 16);
    QTest::newRow("in the same view row 1 column 2 lies one module down and two across")
        << QSize(536, 600) << 25 << 1 << 2 << QRect(100, 116, 16, 16);
    QTest::newRow("a lone module in a 90 by 90 view is a 10-pixel square at (40, 40)")
        << QSize(90, 90) << 1 << 0 << 0 << QRect(40, 40, 10, 10);
    QTest::newRow("one spare pixel across stays on the right")
        << QSize(91, 90) << 1 << 0 << 0 << QRect(40, 40, 10, 10);
    QTest::newRow("one spare pixel down stays at the bottom")
        << QSize(90, 91) << 1 << 0 << 0 << QRect(40, 40, 10, 10);
    QTest::newRow("a wide view centres the symbol across and sizes it by the height")
        << QSize(300, 90) << 1 << 0 << 0 << QRect(145, 40, 10, 10);
    QTest::newRow("a tall view centres the symbol down and sizes it by the width")
        << QSize(90, 301) << 1 << 0 << 0 << QRect(40, 145, 10, 10);
    QTest::newRow("a 20 by 20 view too small for 21 modules gives each one pixel from (0, 0)")
        << QSize(20, 20) << 21 << 0 << 0 << QRect(0, 0, 1, 1);
    QTest::newRow("in that view row 19 column 19 is the last module inside it")
        << QSize(20, 20) << 21 << 19 << 19 << QRect(19, 19, 1, 1);
    QTest::newRow("in that view row 20 column 20 lies past its edge and is clipped away")
        << QSize(20, 20) << 21 << 20 << 20 << QRect();
    QTest::newRow("in that view row 0 column 20 lies past its right edge and is clipped away")
        << QSize(20, 20) << 21 << 0 << 20 << QRect();
}

void TestQrView::placement()
{
    QFETCH(QSize, viewSize);
    QFETCH(int, size);
    QFETCH(int, row);
    QFETCH(int, col);
    QFETCH(QRect, square);

    QrView view(nullptr);
    view.resize(viewSize);
    view.size = size;
    view.modules = oneDarkModule(size, row, col);
    const QImage image = rendered(view);

    QRect blackPixels;
    int blackCount = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            QVERIFY2(pixel == black || pixel == white,
                     qPrintable(QStringLiteral("pixel (%1, %2) is %3")
                                    .arg(x)
                                    .arg(y)
                                    .arg(pixel, 8, 16, QLatin1Char('0'))));
            if (pixel == black) {
                blackPixels |= QRect(x, y, 1, 1);
                ++blackCount;
            }
        }
    }
    QCOMPARE(blackPixels, square);
    QCOMPARE(blackCount, square.width() * square.height());
}

void TestQrView::nothingPainted_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("modules");

    QTest::newRow("size 0 with a dark module in the matrix") << 0 << QStringLiteral("1");
    QTest::newRow("size 0 with an empty matrix, as after construction") << 0 << QString();
    QTest::newRow("a negative size with a full matrix") << -2 << QStringLiteral("1111");
    QTest::newRow("the most negative size") << INT_MIN << QStringLiteral("1");
}

void TestQrView::nothingPainted()
{
    QFETCH(int, size);
    QFETCH(QString, modules);

    QrView view(nullptr);
    view.resize(90, 90);
    view.size = size;
    view.modules = modules;
    QVERIFY(rendered(view) == blank(90, 90));
}

void TestQrView::lightCharacters_data()
{
    QTest::addColumn<QChar>("module");

    QTest::newRow("a zero is light") << QChar(QLatin1Char('0'));
    QTest::newRow("a blank is light") << QChar(QLatin1Char(' '));
    QTest::newRow("a letter is light") << QChar(QLatin1Char('x'));
    QTest::newRow("a two is light") << QChar(QLatin1Char('2'));
    QTest::newRow("a NUL character is light") << QChar(0);
    QTest::newRow("a full-width digit one is light") << QChar(0xff11);
    QTest::newRow("an Arabic-Indic digit one is light") << QChar(0x0661);
    QTest::newRow("a one with its high byte set is light") << QChar(0x0131);
}

void TestQrView::lightCharacters()
{
    QFETCH(QChar, module);

    QrView view(nullptr);
    view.resize(90, 90);
    view.size = 1;
    view.modules = QString(module);
    QImage allWhite(90, 90, QImage::Format_RGB32);
    allWhite.fill(white);
    QVERIFY(rendered(view) == allWhite);
}

void TestQrView::shortMatrix_data()
{
    QTest::addColumn<int>("size");
    // How many characters the matrix holds; behind them lie more dark ones.
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("side");

    QTest::newRow("a matrix cut short after its first row paints only that row") << 3 << 3 << 110;
    QTest::newRow("a matrix cut short in mid-row stops at its last character") << 5 << 7 << 130;
    QTest::newRow("an empty matrix with a positive size paints only white") << 3 << 0 << 110;
    QTest::newRow("a size far beyond the matrix reads only what is there") << 100000 << 10 << 200;
    QTest::newRow("the largest size neither overflows nor reads past the matrix")
        << INT_MAX << 4 << 200;
}

void TestQrView::shortMatrix()
{
    QFETCH(int, size);
    QFETCH(int, length);
    QFETCH(int, side);

    QrView view(nullptr);
    view.resize(side, side);
    view.size = size;
    view.modules = QString::fromRawData(darkBuffer().constData(), length);
    const QImage expected = reference(side, side, size, QString(length, QLatin1Char('1')));
    QVERIFY(rendered(view) == expected);
}

QTEST_MAIN(TestQrView)
#include "tst_qrview.moc"
