#pragma once

#include <QObject>
#include <QSet>

class QEvent;

namespace zorvi {

// Keeps the flag file /tmp/zorvi-reading present exactly while one of
// Nickel's reading views (class ReadingView) is visible, so that other
// processes know whether a book is open. Installed as an event filter on the
// application, it follows the Show and Hide events of reading views and the
// destruction of those it has seen shown. The file itself is the state.
class ReadingTracker : public QObject {
public:
    explicit ReadingTracker(QObject *parent);
    ~ReadingTracker() override;

    // Never consumes an event.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void track(QObject *view);
    void viewDestroyed(QObject *view);

    // The reading views whose destruction is watched, each connected once.
    QSet<QObject *> views;
};

} // namespace zorvi
