#pragma once

#include <QVector>

class QBoxLayout;
class QSpacerItem;
class QVBoxLayout;
class QWidget;

namespace zorvi {

// The margins, spacings and gaps of the panel's pages, which all derive from
// its layout unit. Each is made here and kept, so that all of them follow
// when the unit changes, as it does when the reader is turned.
class UnitSizes {
public:
    explicit UnitSizes(int unit);

    int unit() const { return current; }

    // A page's vertical layout: margins of 2 units, spacing of 1.
    QVBoxLayout *pageLayout(QWidget *page);
    // Keeps the items of layout 1 unit apart.
    void spaced(QBoxLayout *layout);
    // A gap of 1 unit added to a vertical layout.
    void addGap(QBoxLayout *layout);

    void setUnit(int unit);

private:
    int current;
    QVector<QBoxLayout *> pages;
    QVector<QBoxLayout *> spacings;
    QVector<QSpacerItem *> gaps;
};

} // namespace zorvi
