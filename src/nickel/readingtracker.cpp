#include "nickel/readingtracker.h"

#include "plugin/devicepaths.h"
#include "plugin/pluginlog.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QWidget>

namespace zorvi {

namespace {

const char readingViewClass[] = "ReadingView";

// Whether a reading view other than `except` is on screen. A view being hidden
// or destroyed does not close the book while another one still shows it.
bool otherReadingViewVisible(const QObject *except)
{
    const QWidgetList widgets = QApplication::allWidgets();
    for (const QWidget *widget : widgets) {
        if (widget != except && widget->isVisible() && widget->inherits(readingViewClass))
            return true;
    }
    return false;
}

// Brings the flag file in line with `reading`, comparing against the file as
// it is now, whoever made it so.
void setReading(bool reading)
{
    const QString flag = QString::fromLatin1(readingFlag);
    if (QFile::exists(flag) == reading)
        return;

    if (reading) {
        // Append, so that a file appearing in the meantime is never truncated.
        QFile file(flag);
        const bool created = file.open(QIODevice::WriteOnly | QIODevice::Append);
        file.close();
        pluginLog(QStringLiteral("book opened"));
        if (!created)
            pluginLog(QStringLiteral("could not create the reading flag"));
    } else {
        const bool removed = QFile::remove(flag);
        pluginLog(QStringLiteral("book closed"));
        if (!removed)
            pluginLog(QStringLiteral("could not delete the reading flag"));
    }
}

} // namespace

ReadingTracker::ReadingTracker(QObject *parent)
    : QObject(parent)
{
    // A flag left by an earlier run is stale unless a book is open now. A view
    // already on screen is watched like one shown later, since its
    // destruction brings no Hide event.
    bool reading = false;
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget *widget : widgets) {
        if (widget->isVisible() && widget->inherits(readingViewClass)) {
            reading = true;
            track(widget);
        }
    }
    setReading(reading);
}

ReadingTracker::~ReadingTracker() = default;

bool ReadingTracker::eventFilter(QObject *watched, QEvent *event)
{
    // Every event of Nickel passes here. Show and Hide are adjacent types, so
    // one unsigned comparison turns all others away before anything is done.
    static_assert(QEvent::Hide == QEvent::Show + 1, "Show and Hide must be adjacent");
    if (unsigned(event->type()) - unsigned(QEvent::Show) > 1u)
        return false;
    if (!watched->isWidgetType() || !watched->inherits(readingViewClass))
        return false;

    if (event->type() == QEvent::Show) {
        setReading(true);
        track(watched);
    } else {
        setReading(otherReadingViewVisible(watched));
    }
    return false;
}

void ReadingTracker::track(QObject *view)
{
    if (views.contains(view))
        return;
    views.insert(view);
    connect(view, &QObject::destroyed, this, [this, view] { viewDestroyed(view); });
}

void ReadingTracker::viewDestroyed(QObject *view)
{
    // A destroyed child widget gets no Hide event, so a book shown in it
    // closes here. Only the pointer is used: the view is half destroyed.
    views.remove(view);
    setReading(otherReadingViewVisible(view));
}

} // namespace zorvi
