#pragma once

#include <QPointer>
#include <QWidget>

class HomeView;
class QStackedLayout;
class ReadingView;

// The host's one top-level window, the size of the e-reader's screen: the
// home screen, and the reading view while a book is open.
class NickelWindow : public QWidget {
    Q_OBJECT

public:
    explicit NickelWindow(QSize screenSize);

    void openBook();
    void closeBook();
    void destroyBook();
    void addStatusBar();
    void showSyncNotice(int syncCount);

private:
    int unit;
    QStackedLayout *screens;
    HomeView *home;
    QPointer<ReadingView> reading;
    int extraStatusBars = 0;
};
