#pragma once

// What the page renderer draws and the picture tests check: the screens of
// current readers, a reader's window with the panel on it, and the states of
// the home page's update section as the daemon reports them; and how the
// tests see where widgets lie.

#include "ui/panel.h"

#include <QCoreApplication>
#include <QSize>
#include <QString>
#include <QWidget>

// The screens of current readers, smallest first.
const QSize readerScreens[] = {QSize(758, 1024), QSize(1072, 1448), QSize(1264, 1680),
                               QSize(1404, 1872)};

inline QString sizeName(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// A window of a reader's screen size with the panel on it. The panel takes
// its layout unit from the window's height when it is made, as on the
// reader, so each size has a panel of its own.
struct ReaderScreen {
    explicit ReaderScreen(const QSize &size)
    {
        window.resize(size);
        window.show();
        panel = new zorvi::Panel(&window);
    }

    QWidget window;
    zorvi::Panel *panel = nullptr;
};

// The update section's states with a running daemon: the GET /update body of
// each, and whether the owner has just asked for a check.
const struct UpdateState {
    const char *name;
    const char *update;
    bool checkRequested;
} updateStates[] = {
    {"idle", R"({"state":"idle","current":"2.0.3"})", false},
    {"checking", R"({"state":"checking","current":"2.0.3"})", true},
    {"downloading", R"({"state":"downloading","version":"2.1.0","current":"2.0.3"})", true},
    {"ready", R"({"state":"ready","version":"2.1.0","current":"2.0.3"})", false},
    {"uptodate", R"({"state":"idle","last":"up_to_date","current":"2.0.3"})", true},
    {"blocked", R"({"state":"idle","last":"blocked","current":"2.0.3"})", true},
    {"failed", R"({"state":"idle","last":"failed","current":"2.0.3"})", true},
};

// Carries out the layouts that are pending, as the event loop would.
inline void layOut()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::processEvents();
}

// Where a widget lies in one of its ancestors.
inline QRect areaIn(const QWidget *ancestor, const QWidget *widget)
{
    return QRect(widget->mapTo(ancestor, QPoint()), widget->size());
}

// Whether each of the widgets lies whole inside the ancestor.
inline bool allInside(const QWidget *ancestor, const QList<QWidget *> &widgets)
{
    for (const QWidget *widget : widgets)
        if (!ancestor->rect().contains(areaIn(ancestor, widget)))
            return false;
    return true;
}
