#include "homeview.h"

#include "bookcover.h"
#include "statusbarview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

QLabel *textLabel(const QString &text, int pixelSize, bool bold, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    label->setFont(font);
    return label;
}

} // namespace

HomeView::HomeView(int unit, QWidget *parent)
    : QWidget(parent)
{
    auto *statusBar = new StatusBarView(unit, this);
    statusBar->setObjectName(QStringLiteral("homeStatusBar"));

    auto *content = new QWidget(this);
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(unit, unit / 2, unit, unit / 2);
    contentLayout->setSpacing(unit / 2);
    auto *title = textLabel(tr("Home"), unit, true, content);
    title->setObjectName(QStringLiteral("homeTitle"));
    contentLayout->addWidget(title);
    contentLayout->addWidget(textLabel(tr("Continue reading"), unit * 6 / 10, true, content));
    contentLayout->addWidget(createContinueReading(unit));
    contentLayout->addSpacing(unit / 2);
    contentLayout->addWidget(textLabel(tr("Recent books"), unit * 6 / 10, true, content));
    contentLayout->addWidget(createRecentBooks(unit));
    contentLayout->addStretch(1);
    syncNotice = textLabel(QString(), unit / 2, false, content);
    syncNotice->setObjectName(QStringLiteral("syncNotice"));
    syncNotice->setAlignment(Qt::AlignCenter);
    syncNotice->hide();
    contentLayout->addWidget(syncNotice);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(statusBar);
    layout->addWidget(content, 1);
    layout->addWidget(createNavigationBar(unit));
}

void HomeView::showSyncNotice(int syncCount)
{
    syncNotice->setText(tr("Library synchronised (%1)").arg(syncCount));
    syncNotice->show();
}

void HomeView::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), Qt::white);
}

QWidget *HomeView::createContinueReading(int unit)
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(unit);
    auto *cover = new BookCover(QStringLiteral("The Lantern Keeper"),
                                QStringLiteral("Mara Ellison"), 3, QSize(unit * 5, unit * 7), row);
    cover->setObjectName(QStringLiteral("continueReadingCover"));
    connect(cover, &BookCover::tapped, this, &HomeView::bookRequested);
    layout->addWidget(cover);

    auto *details = new QVBoxLayout;
    details->setSpacing(unit / 4);
    details->addStretch(1);
    details->addWidget(textLabel(QStringLiteral("The Lantern Keeper"), unit * 7 / 10, true, row));
    details->addWidget(textLabel(QStringLiteral("Mara Ellison"), unit / 2, false, row));
    details->addSpacing(unit / 2);
    details->addWidget(textLabel(tr("23% read · 4 hours left"), unit * 45 / 100, false, row));
    details->addStretch(1);
    layout->addLayout(details, 1);
    return row;
}

QWidget *HomeView::createRecentBooks(int unit)
{
    const struct {
        const char *title;
        const char *author;
    } books[] = {
        {"North of the Salt Road", "J. P. Okafor"},
        {"A Small Atlas of Clouds", "Ines Valtonen"},
        {"Winter Orchard", "Tomas Reyes"},
    };
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(unit);
    int design = 0;
    for (const auto &book : books) {
        auto *column = new QVBoxLayout;
        column->setSpacing(unit / 5);
        auto *cover = new BookCover(QString::fromUtf8(book.title), QString::fromUtf8(book.author),
                                    design, QSize(unit * 6, unit * 8), row);
        cover->setObjectName(QStringLiteral("bookCover%1").arg(++design));
        connect(cover, &BookCover::tapped, this, &HomeView::bookRequested);
        column->addWidget(cover);
        auto *title = textLabel(QString::fromUtf8(book.title), unit * 4 / 10, false, row);
        title->setFixedWidth(unit * 6);
        title->setWordWrap(true);
        column->addWidget(title);
        column->addStretch(1);
        layout->addLayout(column);
    }
    layout->addStretch(1);
    return row;
}

QWidget *HomeView::createNavigationBar(int unit)
{
    auto *bar = new QFrame(this);
    bar->setObjectName(QStringLiteral("navigationBar"));
    bar->setFixedHeight(unit * 2);
    bar->setStyleSheet(QStringLiteral("QFrame#navigationBar { border-top: 2px solid black; }"));
    auto *layout = new QHBoxLayout(bar);
    const QString tabs[] = {tr("Home"), tr("My Books"), tr("Discover"), tr("More")};
    for (const QString &tab : tabs) {
        auto *label = textLabel(tab, unit / 2, tab == tabs[0], bar);
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label, 1);
    }
    return bar;
}
