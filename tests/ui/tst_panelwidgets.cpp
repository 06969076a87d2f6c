// The panel's own widgets: its button under real touch events, never taking
// the keyboard focus; the QR view's pixels, compared exactly with golden
// images (drawn pixel by pixel, each pixel deciding on its own which module
// it lies in, not by filling squares as the view does) and with what odd
// sizes and matrices must paint.

#include "touchscreen.h"
#include "ui/qrview.h"
#include "ui/touchbutton.h"

#include <QLineEdit>
#include <QtTest>

#include <climits>

namespace {

// Counts the application's mouse events: Qt makes them out of a touch that no
// widget consumed, and they would press or click the button a second time.
struct MouseEventCounter : QObject {
    int count = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        count += e->type() >= QEvent::MouseButtonPress && e->type() <= QEvent::MouseMove;
        return false;
    }
};

enum Input { Touch, CancelledTouch };

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

class TestPanelWidgets : public QObject {
    Q_OBJECT

private slots:
    void press_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<bool>("enabledAtBegin");
        QTest::addColumn<bool>("enabledAtEnd");
        // Where the finger is lifted, in the button's coordinates; (140, 130) lies below it.
        QTest::addColumn<QPoint>("endAt");
        QTest::addColumn<bool>("downWhileHeld");
        QTest::addColumn<int>("clicks");

        const QPoint inside(140, 40), below(140, 130);
        QTest::newRow("a tap presses the button and clicks it once")
            << int(Touch) << true << true << inside << true << 1;
        QTest::newRow("a finger slid off the button before it is lifted still clicks it")
            << int(Touch) << true << true << below << true << 1;
        QTest::newRow("a tap on a disabled button is consumed and does nothing")
            << int(Touch) << false << false << inside << false << 0;
        QTest::newRow("a button disabled under the finger goes up and does not click")
            << int(Touch) << true << false << inside << true << 0;
        // Kept after the other touches: the test helpers cannot end a cancelled
        // touch, so its finger stays down for the rest of the run.
        QTest::newRow("a cancelled touch lets the button go without a click")
            << int(CancelledTouch) << true << true << inside << true << 0;
    }

    void press()
    {
        QFETCH(int, input);
        QFETCH(bool, enabledAtBegin);
        QFETCH(bool, enabledAtEnd);
        QFETCH(QPoint, endAt);
        QFETCH(bool, downWhileHeld);
        QFETCH(int, clicks);

        TouchScreen screen;
        // A panel page in small: the button below a field that has the focus.
        QWidget window;
        window.resize(320, 240);
        QLineEdit above(&window);
        zorvi::TouchButton button(QStringLiteral("Done"), &window);
        above.setGeometry(20, 10, 280, 30);
        button.setGeometry(20, 80, 280, 80);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        above.setFocus();
        button.setEnabled(enabledAtBegin);
        QSignalSpy clicked(&button, SIGNAL(clicked()));
        MouseEventCounter mouseEvents;
        qApp->installEventFilter(&mouseEvents);

        screen.press(&button, QPoint(140, 40));
        QCOMPARE(button.isDown(), downWhileHeld);
        button.setEnabled(enabledAtEnd);
        if (input == Touch)
            screen.release(&button, endAt);
        else
            screen.cancel(&button);
        QCoreApplication::processEvents();

        QVERIFY(!button.isDown());
        QCOMPARE(clicked.count(), clicks);
        QCOMPARE(mouseEvents.count, 0);
        // The touch left the keyboard focus with the field.
        QCOMPARE(QApplication::focusWidget(), &above);
    }

    void golden_data()
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

    void golden()
    {
        QFETCH(QString, file);
        QFETCH(int, size);

        const QImage expected =
            QImage(QFINDTESTDATA("data/" + file)).convertToFormat(QImage::Format_RGB32);
        QVERIFY2(!expected.isNull(), qPrintable(file));
        const QImage actual = paint(expected.size(), size, sampleSymbol(size));
        const QString actualPath =
            QCoreApplication::applicationDirPath() + "/qrview-actual-" + file;
        if (actual != expected)
            actual.save(actualPath);
        QVERIFY2(actual == expected, qPrintable("the view's pixels differ, see " + actualPath));
    }

    void matrix_data()
    {
        // The view must paint for `size` and `modules` exactly what it paints
        // for the plain matrix `sameAs` of `sameSize` modules a side.
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("modules");
        QTest::addColumn<int>("sameSize");
        QTest::addColumn<QString>("sameAs");

        QTest::newRow("every character but \"1\" is a light module")
            << 3
            << QStringLiteral("0 x2") + QChar(0) + QChar(0xff11) + QChar(0x0661) + QChar(0x0131) +
                   '1'
            << 3 << "000000001";
        QTest::newRow("a matrix cut short in mid-row is light after its last character")
            << 5 << QString::fromRawData(darkBuffer.constData(), 7) << 5
            << QString(7, '1') + QString(18, '0');
        QTest::newRow("the largest size neither overflows nor reads past the matrix")
            << INT_MAX << QString::fromRawData(darkBuffer.constData(), 4) << 1 << "0";
    }

    void matrix()
    {
        QFETCH(int, size);
        QFETCH(QString, modules);
        QFETCH(int, sameSize);
        QFETCH(QString, sameAs);

        QVERIFY(paint(QSize(90, 90), size, modules) == paint(QSize(90, 90), sameSize, sameAs));
    }
};

QTEST_MAIN(TestPanelWidgets)
#include "tst_panelwidgets.moc"
