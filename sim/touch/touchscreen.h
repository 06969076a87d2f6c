#pragma once

#include <QPoint>

class QTouchDevice;
class QWidget;

// The e-reader's touch screen: one finger put down and lifted at a point of a
// widget, delivered through the window system as the screen's driver delivers
// it, so that the touch goes to whichever widget is on top there and Qt makes
// its touch events (and, where nobody takes them, mouse events) from it.
// QtTest's touch helpers do not link against the reader's own Qt, whose maker
// changed the function they call; the window system's entry is the same in
// every Qt the add-on runs on.
class TouchScreen {
public:
    TouchScreen();

    // A point in the widget's own coordinates; each call is delivered before
    // it returns.
    void press(QWidget *widget, const QPoint &point);
    void release(QWidget *widget, const QPoint &point);
    void tap(QWidget *widget, const QPoint &point);
    // The system takes back the touch under way on the widget's window.
    void cancel(QWidget *widget);

private:
    void touch(QWidget *widget, const QPoint &point, int state);

    QTouchDevice *device;
};
