#pragma once

#include <QWidget>

// One icon of a status bar's icon row: a black line glyph on white, drawn in
// a square of the row's icon size.
class StatusIndicator : public QWidget {
    Q_OBJECT

public:
    enum class Kind { Frontlight, Wifi, Battery, Search };

    StatusIndicator(Kind kind, int iconSize, QWidget *parent);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void drawFrontlight(QPainter &painter, qreal side) const;
    void drawWifi(QPainter &painter, qreal side) const;
    void drawBattery(QPainter &painter, qreal side) const;
    void drawSearch(QPainter &painter, qreal side) const;

    Kind kind;
    int iconSize;
};
