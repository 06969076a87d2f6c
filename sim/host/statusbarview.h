#pragma once

#include <QWidget>

// A status bar as Nickel has them: the class name "StatusBarView", a clock on
// the left and, nested a level down, the widget "iconContainer" whose box
// layout is the row of status icons, ending with "searchIcon".
class StatusBarView : public QWidget {
    Q_OBJECT

public:
    StatusBarView(int iconSize, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};
