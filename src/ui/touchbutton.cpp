#include "ui/touchbutton.h"

#include "ui/uitext.h"

#include <QEvent>

namespace zorvi {

TouchButton::TouchButton(const QString &text, QWidget *parent)
    : QPushButton(text, parent)
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    setFocusPolicy(Qt::NoFocus);
}

TouchButton::~TouchButton() = default;

bool TouchButton::event(QEvent *e)
{
    switch (e->type()) {
    case QEvent::TouchBegin:
        // Accepting the touch begin, even on a disabled button, keeps the rest
        // of this touch on the button and stops Qt from making mouse events of
        // it: a tap clicks once, here, and never falls through to the page.
        setDown(isEnabled());
        e->accept();
        return true;
    case QEvent::TouchEnd:
        // Where the finger is lifted does not matter: a touch that began on
        // the button clicks it even if the finger has slid off.
        setDown(false);
        if (isEnabled())
            click();
        return true;
    case QEvent::TouchCancel:
        // A touch the system takes back ends without a click, and must not
        // leave the button showing its pressed look until the next tap.
        setDown(false);
        return QPushButton::event(e);
    default:
        return QPushButton::event(e);
    }
}

bool TouchButton::hitButton(const QPoint &pos) const
{
    return QAbstractButton::hitButton(pos);
}

TouchButton *keyedButton(QWidget *parent, const char *key)
{
    TouchButton *button = new TouchButton(QString(), parent);
    bindText(button, key);
    return button;
}

} // namespace zorvi
