#include "bookcover.h"

#include <QEvent>
#include <QPainter>

BookCover::BookCover(const QString &title, const QString &author, int design, QSize size,
                     QWidget *parent)
    : QWidget(parent)
    , title(title)
    , author(author)
    , design(design)
    , coverSize(size)
{
    setAttribute(Qt::WA_AcceptTouchEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize BookCover::sizeHint() const
{
    return coverSize;
}

bool BookCover::event(QEvent *event)
{
    // Taps arrive as touches, as on the device; accepting the begin keeps the
    // rest of the sequence coming here.
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
        event->accept();
        return true;
    case QEvent::TouchEnd:
        event->accept();
        emit tapped();
        return true;
    default:
        return QWidget::event(event);
    }
}

void BookCover::mouseReleaseEvent(QMouseEvent *)
{
    emit tapped();
}

void BookCover::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal border = qMax(2.0, width() / 60.0);
    const QRectF cover = QRectF(rect()).adjusted(border / 2, border / 2, -border / 2, -border / 2);
    painter.fillRect(rect(), Qt::white);
    drawDesign(painter, cover);

    const bool inverted = design % 4 == 3;
    const QColor ink = inverted ? Qt::white : Qt::black;
    QFont titleFont(QStringLiteral("DejaVu Serif"));
    titleFont.setBold(true);
    titleFont.setPixelSize(qMax(10, width() / 8));
    painter.setFont(titleFont);
    painter.setPen(ink);
    const QRectF titleArea(cover.left() + width() * 0.1, cover.top() + height() * 0.12,
                           cover.width() - width() * 0.2, height() * 0.4);
    painter.drawText(titleArea, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, title);

    QFont authorFont(QStringLiteral("DejaVu Sans"));
    authorFont.setPixelSize(qMax(8, width() / 14));
    painter.setFont(authorFont);
    painter.setPen(Qt::black);
    const QRectF authorArea(cover.left(), cover.bottom() - height() * 0.16, cover.width(),
                            height() * 0.1);
    painter.fillRect(authorArea.adjusted(width() * 0.08, 0, -width() * 0.08, 0), Qt::white);
    painter.drawText(authorArea, Qt::AlignCenter, author.toUpper());

    painter.setPen(QPen(Qt::black, border));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(cover);
}

void BookCover::drawDesign(QPainter &painter, const QRectF &area) const
{
    painter.save();
    painter.setClipRect(area);
    const qreal w = area.width();
    const qreal h = area.height();
    switch (design % 4) {
    case 0: // a band of thin stripes across the lower half
        for (int line = 0; line < 9; ++line)
            painter.fillRect(QRectF(area.left(), area.top() + h * (0.55 + line * 0.025), w, 1.5),
                             Qt::black);
        break;
    case 1: // rings rising like a sun
        painter.setPen(QPen(Qt::black, 2));
        for (int ring = 1; ring <= 6; ++ring)
            painter.drawEllipse(QPointF(area.center().x(), area.top() + h * 0.82), w * 0.07 * ring,
                                w * 0.07 * ring);
        break;
    case 2: // diagonal hatching
        painter.setPen(QPen(Qt::black, 1.5));
        for (qreal x = -h; x < w; x += w / 10)
            painter.drawLine(QPointF(area.left() + x, area.bottom()),
                             QPointF(area.left() + x + h * 0.5, area.top() + h * 0.5));
        break;
    default: // a dark cover with the title in white
        painter.fillRect(area, Qt::black);
        break;
    }
    painter.restore();
}
