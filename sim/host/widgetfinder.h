#pragma once

#include <QList>
#include <QString>

class QWidget;

// Finds the host's widgets (and any a plugin added) by object name.
class WidgetFinder {
public:
    // Every widget of that name under the top-level windows, windows first,
    // then each window's tree depth first in creation order.
    static QList<QWidget *> widgetsNamed(const QString &name);
    // The first visible one, or null.
    static QWidget *visibleWidgetNamed(const QString &name);
    // The visible button that reads exactly this text, the one created last
    // (so the one on top) when there are several; or null.
    static QWidget *visibleButtonWithText(const QString &text);
    // Whether a visible label or button shows exactly this text, and if a
    // button, whether it takes touches.
    enum class Shown { No, Yes, Disabled };
    static Shown visibleText(const QString &text);
    // "class=... geometry=X,Y WxH visible=yes ..." with the geometry in the
    // coordinates of the widget's window.
    static QString describe(const QWidget *widget);
};
