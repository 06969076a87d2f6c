#pragma once

#include <QWidget>

class StatusBarView;

// The page of an open book. Like Nickel's, it is created when a book is first
// opened and gets its own status bar only when it is first shown.
class ReadingView : public QWidget {
    Q_OBJECT

public:
    ReadingView(int unit, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    int unit;
    StatusBarView *statusBar = nullptr;
};
