// The QR view's pixels: compared exactly with golden images of the worked
// examples, and with what a size below 1, a light character or a matrix cut
// short must paint. The golden images in data/ were drawn pixel by pixel, each
// pixel deciding on its own which module it lies in, not by filling squares as
// the view does.

#include "ui/qrview.h"

#include <QtTest>

#include <climits>

namespace {

// What the view paints, over a colour it never uses itself: a pixel that still
// shows that colour was left unpainted.
QImage paint(QSize area, int size, const QString &modules)
{
    zorvi::QrView view(nullptr);
    view.resize(area);
    view.size = size;
    view.modules = modules;
    QImage image(area, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The matrix of the golden images: a QR code's three finder patterns where
// they fit and scattered modules elsewhere, light ones written "0", " " or "x".
QString sampleSymbol(int size)
{
    QString modules;
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            bool dark = (uint(r * size + c) * 2654435761u) >> 31;
            for (const QPoint corner : {QPoint(0, 0), QPoint(size - 7, 0), QPoint(0, size - 7)}) {
                const int ring = qMax(qAbs(r - corner.y() - 3), qAbs(c - corner.x() - 3));
                if (size >= 15 && ring <= 4)
                    dark = ring == 3 || ring <= 1;
            }
            modules += dark ? QLatin1Char('1') : QLatin1Char("0 x"[(r + c) % 3]);
        }
    }
    return modules;
}

// Dark modules beyond the end of every short matrix below: a view that reads
// past the end paints them.
const QString darkBuffer(64, QLatin1Char('1'));

} // namespace

class TestQrView : public QObject {
    Q_OBJECT

private slots:
    void golden_data();
    void golden();
    void matrix_data();
    void matrix();
};

void TestQrView::golden_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("size");

    QTest::newRow("25 modules in 536 x 600 are 16 pixels each, row 0 column 0 at (68, 100)")
        << "qr-536x600-25.png" << 25;
    QTest::newRow("21 modules in 20 x 20 are one pixel each from (0, 0), clipped at the edges")
        << "qr-20x20-21.png" << 21;
    QTest::newRow("one dark module in 90 x 90 is a 10-pixel square at (40, 40)")
        << "qr-90x90-1.png" << 1;
    QTest::newRow("odd spare pixels in 100 x 96 stay on the right and at the bottom")
        << "qr-100x96-5.png" << 5;
}

void TestQrView::golden()
{
    QFETCH(QString, file);
    QFETCH(int, size);

    const QImage expected =
        QImage(QFINDTESTDATA("data/" + file)).convertToFormat(QImage::Format_RGB32);
    QVERIFY2(!expected.isNull(), qPrintable(file));
    const QImage actual = paint(expected.size(), size, sampleSymbol(size));
    const QString actualPath = QCoreApplication::applicationDirPath() + "/qrview-actual-" + file;
    if (actual != expected)
        actual.save(actualPath);
    QVERIFY2(actual == expected, qPrintable("the view's pixels differ, see " + actualPath));
}

void TestQrView::matrix_data()
{
    // The view must paint for `size` and `modules` exactly what it paints for
    // the plain matrix `sameAs` of `sameSize` modules a side; a `sameSize` of 0
    // there means that nothing at all may be painted, not even the background.
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("modules");
    QTest::addColumn<int>("sameSize");
    QTest::addColumn<QString>("sameAs");

    QTest::newRow("size 0 paints nothing, whatever the matrix holds") << 0 << "1" << 0 << "";
    QTest::newRow("a negative size paints nothing") << -2 << "1111" << 0 << "";
    QTest::newRow("every character but \"1\" is a light module")
        << 3
        << QStringLiteral("0 x2") + QChar(0) + QChar(0xff11) + QChar(0x0661) + QChar(0x0131) + '1'
        << 3 << "000000001";
    QTest::newRow("a matrix cut short in mid-row is light after its last character")
        << 5 << QString::fromRawData(darkBuffer.constData(), 7) << 5
        << QString(7, '1') + QString(18, '0');
    QTest::newRow("the largest size neither overflows nor reads past the matrix")
        << INT_MAX << QString::fromRawData(darkBuffer.constData(), 4) << 1 << "0";
}

void TestQrView::matrix()
{
    QFETCH(int, size);
    QFETCH(QString, modules);
    QFETCH(int, sameSize);
    QFETCH(QString, sameAs);

    const QSize area(90, 90);
    QImage expected(area, QImage::Format_RGB32);
    expected.fill(Qt::magenta);
    if (sameSize > 0)
        expected = paint(area, sameSize, sameAs);
    QVERIFY(paint(area, size, modules) == expected);
}

QTEST_MAIN(TestQrView)
#include "tst_qrview.moc"
