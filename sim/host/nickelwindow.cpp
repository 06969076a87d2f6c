#include "nickelwindow.h"

#include "homeview.h"
#include "hostoutput.h"
#include "readingview.h"
#include "statusbarview.h"

#include <QStackedLayout>

NickelWindow::NickelWindow(QSize screenSize)
    // The status icons are a thirtieth of the screen height, as on the device.
    : unit(qMax(8, qRound(screenSize.height() / 30.0)))
    , screens(new QStackedLayout(this))
    , home(new HomeView(unit, this))
{
    setObjectName(QStringLiteral("nickelWindow"));
    setWindowTitle(QStringLiteral("nickel-sim"));
    setFixedSize(screenSize);
    home->setObjectName(QStringLiteral("homeView"));
    screens->addWidget(home);
    connect(home, &HomeView::bookRequested, this, &NickelWindow::openBook);
}

void NickelWindow::openBook()
{
    if (reading && reading->isVisible()) {
        hostSay(QStringLiteral("book already open"));
        return;
    }
    if (!reading) {
        reading = new ReadingView(unit, this);
        reading->setObjectName(QStringLiteral("readingView"));
        screens->addWidget(reading);
        hostSay(QStringLiteral("reading view created"));
    }
    screens->setCurrentWidget(reading);
    hostSay(QStringLiteral("book opened"));
}

void NickelWindow::closeBook()
{
    if (!reading || !reading->isVisible()) {
        hostSay(QStringLiteral("no book open"));
        return;
    }
    screens->setCurrentWidget(home);
    hostSay(QStringLiteral("book closed"));
}

void NickelWindow::destroyBook()
{
    if (!reading) {
        hostSay(QStringLiteral("no reading view"));
        return;
    }
    // Deleted at once, while it may still be shown: the reading view goes
    // without a Hide event, only its destroyed() signal tells.
    delete reading;
    screens->setCurrentWidget(home);
    hostSay(QStringLiteral("reading view destroyed"));
}

void NickelWindow::addStatusBar()
{
    auto *bar = new StatusBarView(unit, this);
    const QString name = QStringLiteral("extraStatusBar%1").arg(++extraStatusBars);
    bar->setObjectName(name);
    // Stacked upwards from the foot of the screen, over whatever is shown.
    const int height = bar->minimumHeight();
    bar->setGeometry(0, this->height() - height * extraStatusBars, width(), height);
    bar->show();
    bar->raise();
    hostSay(QStringLiteral("status bar %1 shown").arg(name));
}

void NickelWindow::showSyncNotice(int syncCount)
{
    home->showSyncNotice(syncCount);
}
