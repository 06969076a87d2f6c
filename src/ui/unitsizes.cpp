#include "ui/unitsizes.h"

#include <QBoxLayout>
#include <QSpacerItem>

namespace zorvi {

UnitSizes::UnitSizes(int unit)
    : current(unit)
{
}

QVBoxLayout *UnitSizes::pageLayout(QWidget *page)
{
    QVBoxLayout *layout = new QVBoxLayout(page);
    layout->setContentsMargins(2 * current, 2 * current, 2 * current, 2 * current);
    layout->setSpacing(current);
    pages << layout;
    return layout;
}

void UnitSizes::spaced(QBoxLayout *layout)
{
    layout->setSpacing(current);
    spacings << layout;
}

void UnitSizes::addGap(QBoxLayout *layout)
{
    QSpacerItem *gap = new QSpacerItem(0, current, QSizePolicy::Minimum, QSizePolicy::Fixed);
    layout->addSpacerItem(gap);
    gaps << gap;
}

void UnitSizes::setUnit(int unit)
{
    if (unit == current)
        return;
    current = unit;
    for (QBoxLayout *layout : pages) {
        layout->setContentsMargins(2 * unit, 2 * unit, 2 * unit, 2 * unit);
        layout->setSpacing(unit);
    }
    for (QBoxLayout *layout : spacings)
        layout->setSpacing(unit);
    for (QSpacerItem *gap : gaps)
        gap->changeSize(0, unit, QSizePolicy::Minimum, QSizePolicy::Fixed);
    for (QBoxLayout *layout : pages)
        layout->invalidate();
}

} // namespace zorvi
