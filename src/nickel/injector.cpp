#include "nickel/injector.h"

#include "nickel/statusicon.h"
#include "plugin/pluginlog.h"

#include <QApplication>
#include <QBoxLayout>
#include <QEvent>
#include <QWidget>

namespace zorvi {

namespace {

// One line per object, indented by depth, with the geometry of widgets: what
// the icon placement relies on, written once so that a Nickel whose status
// bar looks different can be understood from a user's log.
void dumpObjectTree(QObject *object, int depth, QString &out)
{
    // Names are appended, never used as arg() patterns, so that a "%1" in an
    // object name stays as it is. (Multi-argument arg() would do that too,
    // but with Qt 5.15's headers it calls a helper that Qt 5.2 lacks.)
    out += QString(2 * depth, QLatin1Char(' ')) + QLatin1String(object->metaObject()->className()) +
           QStringLiteral(" \"") + object->objectName() + QLatin1Char('"');
    if (object->isWidgetType()) {
        const QWidget *widget = static_cast<QWidget *>(object);
        const QRect geometry = widget->geometry();
        out += QStringLiteral(" [%1,%2 %3x%4]%5")
                   .arg(geometry.x())
                   .arg(geometry.y())
                   .arg(geometry.width())
                   .arg(geometry.height())
                   .arg(widget->isVisible() ? QString() : QStringLiteral(" hidden"));
        if (const QLayout *layout = widget->layout())
            out += QStringLiteral(" layout=") + QLatin1String(layout->metaObject()->className());
    }
    out += QLatin1Char('\n');
    for (QObject *child : object->children())
        dumpObjectTree(child, depth + 1, out);
}

} // namespace

Injector::Injector(QObject *parent)
    : QObject(parent)
    , structureLogged(false)
{
}

Injector::~Injector() = default;

bool Injector::eventFilter(QObject *watched, QEvent *event)
{
    // Consulted for every event of Nickel: the integer test first, the
    // class-name walk last.
    if (event->type() != QEvent::Show)
        return false;
    if (!watched->isWidgetType())
        return false;
    if (!watched->inherits("StatusBarView"))
        return false;
    injectOnce(static_cast<QWidget *>(watched));
    return false;
}

void Injector::startupScan()
{
    int statusBars = 0;
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets) {
        if (widget->inherits("StatusBarView")) {
            ++statusBars;
            injectOnce(widget);
        }
    }
    pluginLog(QStringLiteral("startup scan: %1 widgets, %2 status bars")
                  .arg(QApplication::allWidgets().size())
                  .arg(statusBars));
}

void Injector::injectOnce(QWidget *statusBar)
{
    // Marked before the attempt: a status bar whose row cannot be found is
    // not searched again at each of its Show events.
    if (statusBar->property("zorviInjected").toBool())
        return;
    statusBar->setProperty("zorviInjected", true);
    injectInto(statusBar);
}

void Injector::injectInto(QWidget *statusBar)
{
    if (!structureLogged) {
        structureLogged = true;
        QString structure;
        // Qualified: QObject's own dumpObjectTree() would hide it.
        zorvi::dumpObjectTree(statusBar, 0, structure);
        pluginLog(QStringLiteral("status bar structure:\n") + structure);
    }

    QWidget *container = statusBar->findChild<QWidget *>(QStringLiteral("iconContainer"));
    QBoxLayout *row = container ? qobject_cast<QBoxLayout *>(container->layout()) : nullptr;
    if (!row) {
        pluginLog(QStringLiteral("icon row not found; leaving the status bar untouched"));
        return;
    }
    if (container->findChild<QWidget *>(QStringLiteral("zorviStatusIcon"),
                                        Qt::FindDirectChildrenOnly))
        return;

    QWidget *searchIcon =
        container->findChild<QWidget *>(QStringLiteral("searchIcon"), Qt::FindDirectChildrenOnly);
    QWidget *icon = createStatusIcon(container, searchIcon);
    row->insertWidget(searchIcon ? row->indexOf(searchIcon) : -1, icon, 0, Qt::Alignment());
    icon->show();
    pluginLog(QStringLiteral("icon inserted %1")
                  .arg(searchIcon ? QStringLiteral("before searchIcon")
                                  : QStringLiteral("at the end of the icon row")));
}

} // namespace zorvi
