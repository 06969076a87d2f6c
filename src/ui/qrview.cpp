#include "ui/qrview.h"

#include <QPainter>

namespace zorvi {

QrView::QrView(QWidget *parent)
    : QWidget(parent)
{
}

QrView::~QrView() = default;

void QrView::paintEvent(QPaintEvent *)
{
    if (size < 1)
        return;

    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);

    // 64-bit arithmetic: size comes from the daemon's reply and may be as
    // large as an int goes, so size + 8 and size * size must not overflow.
    const qint64 w = width();
    const qint64 h = height();
    const qint64 n = qint64(size) + 8;
    const qint64 m = qMax<qint64>(qMin(w, h) / n, 1);
    // Division toward zero: when the spare pixels are odd in number, the
    // extra one stays on the right or at the bottom.
    const qint64 x0 = 4 * m + (w - m * n) / 2;
    const qint64 y0 = 4 * m + (h - m * n) / 2;

    // Only the characters that are there are read; a matrix cut short leaves
    // the missing modules light.
    const qint64 count = qMin<qint64>(modules.size(), qint64(size) * size);
    const QChar *module = modules.constData();
    for (qint64 i = 0; i < count; ++i) {
        if (module[i] != QLatin1Char('1'))
            continue;
        const qint64 x = x0 + (i % size) * m;
        const qint64 y = y0 + (i / size) * m;
        if (y >= h)
            break; // rows run downwards: nothing after this one shows
        if (x >= w || x + m <= 0 || y + m <= 0)
            continue; // wholly outside the view
        painter.fillRect(int(x), int(y), int(m), int(m), Qt::black);
    }
}

} // namespace zorvi
