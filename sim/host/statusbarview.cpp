#include "statusbarview.h"

#include "statusindicator.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

StatusBarView::StatusBarView(int iconSize, QWidget *parent)
    : QWidget(parent)
{
    const int margin = iconSize / 4;
    setFixedHeight(iconSize + 2 * margin);

    auto *clock = new QLabel(QStringLiteral("10:42"), this);
    clock->setObjectName(QStringLiteral("clockLabel"));
    QFont clockFont = clock->font();
    clockFont.setPixelSize(iconSize / 2);
    clock->setFont(clockFont);

    auto *rightSide = new QWidget(this);
    rightSide->setObjectName(QStringLiteral("statusBarRightSide"));
    auto *rightLayout = new QHBoxLayout(rightSide);
    rightLayout->setContentsMargins(0, 0, 0, 0);

    auto *iconContainer = new QWidget(rightSide);
    iconContainer->setObjectName(QStringLiteral("iconContainer"));
    auto *iconRow = new QHBoxLayout(iconContainer);
    iconRow->setContentsMargins(0, 0, 0, 0);
    iconRow->setSpacing(iconSize / 3);
    const struct {
        StatusIndicator::Kind kind;
        const char *name;
    } icons[] = {
        {StatusIndicator::Kind::Frontlight, "frontlightIcon"},
        {StatusIndicator::Kind::Wifi, "wifiIcon"},
        {StatusIndicator::Kind::Battery, "batteryIcon"},
        {StatusIndicator::Kind::Search, "searchIcon"},
    };
    for (const auto &icon : icons) {
        auto *indicator = new StatusIndicator(icon.kind, iconSize, iconContainer);
        indicator->setObjectName(QString::fromLatin1(icon.name));
        iconRow->addWidget(indicator);
    }
    rightLayout->addWidget(iconContainer);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(iconSize / 2, margin, iconSize / 2, margin);
    layout->addWidget(clock);
    layout->addStretch(1);
    layout->addWidget(rightSide);
}

void StatusBarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.fillRect(0, height() - 2, width(), 2, Qt::black);
}
