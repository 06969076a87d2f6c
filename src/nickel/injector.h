#pragma once

#include <QObject>

class QWidget;

namespace zorvi {

// Puts one status icon into the icon row of every Nickel status bar, just
// before Nickel's search icon. Nickel knows nothing of the add-on, so its
// status bars are recognised by class name and their icon row by Nickel's own
// object names, both from an application-wide event filter (status bars shown
// later) and from a scan at start-up (those that already exist).
//
// The start-up creates it as a child of the application object, installs it
// as an event filter there and queues startupScan() on a zero-delay timer.
class Injector : public QObject {
public:
    explicit Injector(QObject *parent);
    ~Injector() override;

    // Never consumes or changes an event.
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Handles every status bar that exists now, shown or not, and logs how
    // many there were.
    void startupScan();

    // Gives a status bar its one attempt at an icon; later calls do nothing.
    void injectOnce(QWidget *statusBar);

private:
    void injectInto(QWidget *statusBar);

    // The first status bar's widget tree is in the log; no other is written.
    bool structureLogged;
};

} // namespace zorvi
