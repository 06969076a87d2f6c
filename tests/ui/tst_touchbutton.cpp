// The panel's button pressed and clicked by real touch events, a standard push
// button under the mouse, and never holding the keyboard focus.

#include "touchscreen.h"
#include "ui/touchbutton.h"

#include <QLineEdit>
#include <QtTest>

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

enum Input { Touch, CancelledTouch, Mouse };

} // namespace

class TestTouchButton : public QObject {
    Q_OBJECT

private slots:
    void press_data();
    void press();
};

void TestTouchButton::press_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<bool>("enabledAtBegin");
    QTest::addColumn<bool>("enabledAtEnd");
    // Where the finger is lifted or the mouse released, in the button's
    // coordinates; (140, 130) lies below it.
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
    QTest::newRow("a mouse click clicks once, as on any push button")
        << int(Mouse) << true << true << inside << true << 1;
}

void TestTouchButton::press()
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
    if (input != Mouse)
        qApp->installEventFilter(&mouseEvents);

    const QPoint start(140, 40);
    if (input == Mouse)
        QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, start);
    else
        screen.press(&button, start);
    QCOMPARE(button.isDown(), downWhileHeld);

    button.setEnabled(enabledAtEnd);
    if (input == Mouse) {
        QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, endAt);
    } else if (input == Touch) {
        screen.release(&button, endAt);
    } else {
        screen.cancel(&button);
    }
    QCoreApplication::processEvents();

    QVERIFY(!button.isDown());
    QCOMPARE(clicked.count(), clicks);
    QCOMPARE(mouseEvents.count, 0);
    // Neither the tap nor the click took the focus from the field.
    QCOMPARE(QApplication::focusWidget(), &above);
}

QTEST_MAIN(TestTouchButton)
#include "tst_touchbutton.moc"
