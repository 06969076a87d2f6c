#pragma once

#include <QWidget>

class QLabel;

// Nickel's home screen: a status bar, the book being read, recent books and
// the navigation bar at the foot.
class HomeView : public QWidget {
    Q_OBJECT

public:
    HomeView(int unit, QWidget *parent);

    // Tells on screen that the library was synchronised.
    void showSyncNotice(int syncCount);

signals:
    void bookRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *createContinueReading(int unit);
    QWidget *createRecentBooks(int unit);
    QWidget *createNavigationBar(int unit);

    QLabel *syncNotice;
};
