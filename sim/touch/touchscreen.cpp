#include "touchscreen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTouchDevice>
#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

namespace {

// One screen, registered once for the life of the process, as a device is.
QTouchDevice *screenDevice()
{
    static QTouchDevice *const device = [] {
        QTouchDevice *created = new QTouchDevice;
        created->setName(QStringLiteral("touch screen"));
        created->setType(QTouchDevice::TouchScreen);
        QWindowSystemInterface::registerTouchDevice(created);
        return created;
    }();
    return device;
}

} // namespace

TouchScreen::TouchScreen()
    : device(screenDevice())
{
}

void TouchScreen::press(QWidget *widget, const QPoint &point)
{
    touch(widget, point, Qt::TouchPointPressed);
}

void TouchScreen::release(QWidget *widget, const QPoint &point)
{
    touch(widget, point, Qt::TouchPointReleased);
}

void TouchScreen::tap(QWidget *widget, const QPoint &point)
{
    press(widget, point);
    release(widget, point);
}

void TouchScreen::cancel(QWidget *widget)
{
    QWindowSystemInterface::handleTouchCancelEvent(widget->window()->windowHandle(), device);
    QWindowSystemInterface::flushWindowSystemEvents();
}

void TouchScreen::touch(QWidget *widget, const QPoint &point, int state)
{
    QWidget *window = widget->window();
    if (!window->windowHandle())
        window->winId();
    const QPointF global = widget->mapToGlobal(point);
    const QSizeF screen = QGuiApplication::primaryScreen()->geometry().size();

    QWindowSystemInterface::TouchPoint finger;
    finger.id = 0;
    finger.state = Qt::TouchPointState(state);
    finger.pressure = state == Qt::TouchPointReleased ? 0 : 1;
    finger.area = QRectF(global.x() - 2, global.y() - 2, 4, 4);
    finger.normalPosition = QPointF(global.x() / screen.width(), global.y() / screen.height());
    QWindowSystemInterface::handleTouchEvent(window->windowHandle(), device,
                                             QList<QWindowSystemInterface::TouchPoint>() << finger);
    QWindowSystemInterface::flushWindowSystemEvents();
}
