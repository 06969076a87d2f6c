#include "readingview.h"

#include "hostoutput.h"
#include "statusbarview.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

const char pageText[] =
    "<p align=\"center\"><b>III. The Lamp Room</b></p>"
    "<p align=\"justify\">The stairs turned eleven times before they reached the lamp room, "
    "and Ada counted every turn, as her father had taught her. At the top the wind found "
    "the gaps in the old glass and sang through them in a thin, patient voice.</p>"
    "<p align=\"justify\">She set the oil can on the iron floor and looked out. The sea was "
    "grey as slate, and far to the north a single sail leaned against the weather. It would "
    "be dark within the hour; the ships would need the light long before the town below "
    "remembered that it was there.</p>"
    "<p align=\"justify\">The brass of the great lens was cold under her hand. She wiped "
    "each prism slowly, from the centre outwards, until the last of the salt was gone and "
    "the glass held the whole sky in pieces. Then she trimmed the wick, struck a match, and "
    "waited for the flame to settle.</p>"
    "<p align=\"justify\">Below her the keeper's log lay open on the table, its last entry "
    "written in a hand that was not hers. Tomorrow she would write in it herself. Tonight "
    "there was only the light, turning, and the long road of it across the water.</p>"
    "<p align=\"justify\">At nine the first ship answered. Its lamp blinked twice from the "
    "dark, low and yellow, and then it was gone behind the headland. Ada wrote the time on "
    "a scrap of paper, because the log was not yet hers, and pinned it under the oil can.</p>"
    "<p align=\"justify\">The wind dropped after midnight. In the quiet she could hear the "
    "clockwork that turned the lens, a slow tick like a second heart in the tower, and the "
    "sea breathing against the rocks a hundred feet below. She did not sleep. She had "
    "promised herself she would not, not on the first night.</p>"
    "<p align=\"justify\">When the sky began to pale she climbed down the eleven turns of "
    "the stair, counting again, and opened the door onto a morning washed clean. There were "
    "gulls on the wall and salt on the step, and on the path from the town a figure was "
    "walking towards her with a lantern it no longer needed.</p>";

} // namespace

ReadingView::ReadingView(int unit, QWidget *parent)
    : QWidget(parent)
    , unit(unit)
{
    auto *page = new QLabel(QString::fromUtf8(pageText), this);
    page->setObjectName(QStringLiteral("pageText"));
    page->setWordWrap(true);
    page->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    QFont serif(QStringLiteral("DejaVu Serif"));
    serif.setPixelSize(unit * 6 / 10);
    page->setFont(serif);

    auto *footer = new QLabel(tr("The Lantern Keeper · page 47 of 312"), this);
    footer->setObjectName(QStringLiteral("pageFooter"));
    footer->setAlignment(Qt::AlignCenter);
    QFont small = footer->font();
    small.setPixelSize(unit * 4 / 10);
    footer->setFont(small);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, unit / 2);
    layout->setSpacing(0);
    auto *pageLayout = new QVBoxLayout;
    pageLayout->setContentsMargins(unit * 3 / 2, unit, unit * 3 / 2, unit / 2);
    pageLayout->addWidget(page, 1);
    layout->addLayout(pageLayout, 1);
    layout->addWidget(footer);
}

void ReadingView::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), Qt::white);
}

void ReadingView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (statusBar)
        return;
    // Children made while the view is being shown are not shown with it, so
    // the new bar is shown here and sends its own Show event.
    statusBar = new StatusBarView(unit, this);
    statusBar->setObjectName(QStringLiteral("readingStatusBar"));
    static_cast<QVBoxLayout *>(layout())->insertWidget(0, statusBar);
    hostSay(QStringLiteral("status bar readingStatusBar created"));
    statusBar->show();
}
