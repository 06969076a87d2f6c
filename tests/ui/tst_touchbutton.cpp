// The panel's button pressed and clicked by real touch events, left to
// QPushButton for the mouse, and never holding the keyboard focus.

#include "ui/touchbutton.h"

#include <QLineEdit>
#include <QtTest>

using zorvi::TouchButton;

namespace {

// Counts the mouse events of the whole application: Qt makes them out of any
// touch that no widget accepts, so a tap that was really consumed leaves none.
class MouseEventCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
            ++count;
            break;
        default:
            break;
        }
        return false;
    }
};

// A window laid out like a panel page: the button between two fields that can
// take the focus, under the panel's pressed and disabled looks.
struct Page {
    QWidget window;
    QLineEdit *above = new QLineEdit(&window);
    TouchButton *button = new TouchButton(QStringLiteral("Done"), &window);
    QLineEdit *below = new QLineEdit(&window);

    Page()
    {
        window.setStyleSheet(QStringLiteral(
            "QPushButton { color: black; background: white; border: 3px solid black; }"
            "QPushButton:pressed { background: black; color: white; }"
            "QPushButton:disabled { color: #8a8a8a; border-color: #8a8a8a; }"));
        window.resize(320, 240);
        above->setGeometry(20, 10, 280, 30);
        button->setGeometry(20, 80, 280, 80);
        below->setGeometry(20, 190, 280, 30);
    }

    bool showActive()
    {
        window.show();
        QApplication::setActiveWindow(&window);
        return QTest::qWaitForWindowActive(&window);
    }

    // The look the user sees: the button's face beside its label.
    QRgb face() const { return button->grab().toImage().pixel(10, 40); }
};

enum FocusAttempt { TapOnButton, ClickOnButton, TabFromField };

} // namespace

Q_DECLARE_METATYPE(Qt::MouseButton)

class TestTouchButton : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void tap_data();
    void tap();
    void touchEventsTaken_data();
    void touchEventsTaken();
    void cancelledTouch();
    void mouse_data();
    void mouse();
    void focus_data();
    void focus();

private:
    QTouchDevice *device = nullptr;
};

void TestTouchButton::initTestCase()
{
    device = QTest::createTouchDevice();
}

void TestTouchButton::tap_data()
{
    QTest::addColumn<bool>("enabledAtBegin");
    QTest::addColumn<bool>("enabledAtEnd");
    // The finger slides from the button's centre to this point, in button
    // coordinates, before it is lifted.
    QTest::addColumn<QPoint>("liftAt");
    QTest::addColumn<bool>("downWhileHeld");
    QTest::addColumn<int>("clicks");

    const QPoint centre(140, 40);
    const QPoint below(140, 130);
    QTest::newRow("a tap on an enabled button presses it and clicks it once")
        << true << true << centre << true << 1;
    QTest::newRow("a finger slid off the button before it is lifted still clicks it")
        << true << true << below << true << 1;
    QTest::newRow("a tap on a disabled button neither presses nor clicks it")
        << false << false << centre << false << 0;
    QTest::newRow("a finger slid off a disabled button clicks nothing either")
        << false << false << below << false << 0;
    QTest::newRow("a button disabled under the finger goes up and does not click")
        << true << false << centre << true << 0;
    QTest::newRow("a button enabled under the finger clicks when the finger is lifted")
        << false << true << centre << false << 1;
}

void TestTouchButton::tap()
{
    QFETCH(bool, enabledAtBegin);
    QFETCH(bool, enabledAtEnd);
    QFETCH(QPoint, liftAt);
    QFETCH(bool, downWhileHeld);
    QFETCH(int, clicks);

    Page page;
    QVERIFY(page.showActive());
    page.button->setEnabled(enabledAtBegin);
    const QRgb upFace = page.face();
    QCOMPARE(upFace, qRgb(255, 255, 255));

    QSignalSpy pressed(page.button, &QAbstractButton::pressed);
    QSignalSpy clicked(page.button, &QAbstractButton::clicked);
    MouseEventCounter mouseEvents;
    qApp->installEventFilter(&mouseEvents);

    const QPoint start = page.button->rect().center();
    QTest::touchEvent(&page.window, device).press(0, start, page.button);
    QCOMPARE(page.button->isDown(), downWhileHeld);
    QCOMPARE(page.face(), downWhileHeld ? qRgb(0, 0, 0) : upFace);

    QTest::touchEvent(&page.window, device).move(0, liftAt, page.button);
    QCOMPARE(page.button->isDown(), downWhileHeld);
    QCOMPARE(clicked.count(), 0);

    page.button->setEnabled(enabledAtEnd);
    QTest::touchEvent(&page.window, device).release(0, liftAt, page.button);
    QCoreApplication::processEvents();

    QVERIFY(!page.button->isDown());
    QCOMPARE(page.face(), upFace);
    QCOMPARE(pressed.count(), clicks);
    QCOMPARE(clicked.count(), clicks);
    // The touch was consumed by the button whether it clicked or not: no
    // mouse event was made of it, which would press or click a second time.
    QCOMPARE(mouseEvents.count, 0);
    qApp->removeEventFilter(&mouseEvents);
}

void TestTouchButton::touchEventsTaken_data()
{
    QTest::addColumn<bool>("enabled");

    QTest::newRow("an enabled button takes the touch begin and the touch end") << true;
    QTest::newRow("a disabled button takes them too, so nothing behind it gets them") << false;
}

// What the button answers Qt's delivery, which decides whether a touch end
// is turned into a mouse release as well.
void TestTouchButton::touchEventsTaken()
{
    QFETCH(bool, enabled);

    Page page;
    page.button->setEnabled(enabled);
    QTouchEvent::TouchPoint point(0);
    point.setPos(page.button->rect().center());

    point.setState(Qt::TouchPointPressed);
    QTouchEvent begin(QEvent::TouchBegin, device, Qt::NoModifier, Qt::TouchPointPressed, {point});
    // Qt's delivery hands the touch begin over unaccepted.
    begin.ignore();
    QVERIFY(page.button->event(&begin));
    QVERIFY(begin.isAccepted());

    point.setState(Qt::TouchPointReleased);
    QTouchEvent end(QEvent::TouchEnd, device, Qt::NoModifier, Qt::TouchPointReleased, {point});
    QVERIFY(page.button->event(&end));
}

void TestTouchButton::cancelledTouch()
{
    Page page;
    QVERIFY(page.showActive());
    QSignalSpy clicked(page.button, &QAbstractButton::clicked);

    QTest::touchEvent(&page.window, device).press(0, page.button->rect().center(), page.button);
    QVERIFY(page.button->isDown());

    // The touch test helpers cannot cancel a touch; the system's cancel
    // reaches the button the same way, as an event of its own.
    QTouchEvent cancel(QEvent::TouchCancel, device, Qt::NoModifier, Qt::TouchPointReleased);
    QCoreApplication::sendEvent(page.button, &cancel);

    QVERIFY(!page.button->isDown());
    QCOMPARE(page.face(), qRgb(255, 255, 255));
    QCOMPARE(clicked.count(), 0);
}

void TestTouchButton::mouse_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("releaseAt");
    QTest::addColumn<bool>("downWhilePressed");
    QTest::addColumn<int>("clicks");

    QTest::newRow("a left click inside the button clicks it once")
        << true << Qt::LeftButton << QPoint(140, 40) << true << 1;
    QTest::newRow("a left press released outside the button does not click it")
        << true << Qt::LeftButton << QPoint(140, 130) << true << 0;
    QTest::newRow("a right click does nothing")
        << true << Qt::RightButton << QPoint(140, 40) << false << 0;
    QTest::newRow("a left click on a disabled button does nothing")
        << false << Qt::LeftButton << QPoint(140, 40) << false << 0;
}

// The same mouse events go to a TouchButton and to a plain QPushButton, which
// must end up alike.
void TestTouchButton::mouse()
{
    QFETCH(bool, enabled);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, releaseAt);
    QFETCH(bool, downWhilePressed);
    QFETCH(int, clicks);

    QWidget window;
    TouchButton touchButton(QStringLiteral("Done"), &window);
    QPushButton plainButton(QStringLiteral("Done"), &window);
    for (QPushButton *b : {static_cast<QPushButton *>(&touchButton), &plainButton}) {
        b->resize(280, 80);
        b->setEnabled(enabled);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QSignalSpy touchClicked(&touchButton, &QAbstractButton::clicked);
    QSignalSpy plainClicked(&plainButton, &QAbstractButton::clicked);
    QSignalSpy touchReleased(&touchButton, &QAbstractButton::released);
    QSignalSpy plainReleased(&plainButton, &QAbstractButton::released);

    const QPoint centre(140, 40);
    QTest::mousePress(&touchButton, button, Qt::NoModifier, centre);
    QTest::mousePress(&plainButton, button, Qt::NoModifier, centre);
    QCOMPARE(touchButton.isDown(), plainButton.isDown());
    QCOMPARE(touchButton.isDown(), downWhilePressed);

    QTest::mouseRelease(&touchButton, button, Qt::NoModifier, releaseAt);
    QTest::mouseRelease(&plainButton, button, Qt::NoModifier, releaseAt);
    QVERIFY(!touchButton.isDown());
    QCOMPARE(touchReleased.count(), plainReleased.count());
    QCOMPARE(touchClicked.count(), plainClicked.count());
    QCOMPARE(touchClicked.count(), clicks);
}

void TestTouchButton::focus_data()
{
    QTest::addColumn<int>("attempt");

    QTest::newRow("a tap on the button leaves the focus in the field") << int(TapOnButton);
    QTest::newRow("a mouse click on the button leaves the focus in the field")
        << int(ClickOnButton);
    QTest::newRow("tabbing from the field passes over the button") << int(TabFromField);
}

void TestTouchButton::focus()
{
    QFETCH(int, attempt);

    Page page;
    QVERIFY(page.showActive());
    page.above->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), page.above);
    QSignalSpy clicked(page.button, &QAbstractButton::clicked);

    const QPoint centre = page.button->rect().center();
    switch (attempt) {
    case TapOnButton:
        QTest::touchEvent(&page.window, device).press(0, centre, page.button);
        QTest::touchEvent(&page.window, device).release(0, centre, page.button);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(QApplication::focusWidget(), page.above);
        break;
    case ClickOnButton:
        QTest::mouseClick(page.button, Qt::LeftButton, Qt::NoModifier, centre);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(QApplication::focusWidget(), page.above);
        break;
    case TabFromField:
        QTest::keyClick(page.above, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), page.below);
        break;
    }
    QVERIFY(!page.button->hasFocus());
}

QTEST_MAIN(TestTouchButton)
#include "tst_touchbutton.moc"
