#include "nickel/statusicon.h"

#include "plugin/devicepaths.h"
#include "plugin/pluginlog.h"
#include "plugin/runlater.h"
#include "ui/panel.h"
#include "ui/uitext.h"

#include <QEvent>
#include <QFile>
#include <QFileSystemWatcher>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

namespace zorvi {

namespace {

// The side of the icon when Nickel's search icon gives no size to follow.
const int fallbackSide = 70;

} // namespace

// The add-on's way in, standing in Nickel's row of status icons. Nickel may
// delete any of its widgets at any time, the search icon and the window
// included, so the icon holds none of them in a plain pointer.
class StatusIcon : public QWidget {
public:
    StatusIcon(QWidget *container, QWidget *searchIcon);
    ~StatusIcon() override;

    bool event(QEvent *e) override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;

private:
    void refreshUpdateFlag();
    void measureSearchGlyph();
    void drawSymbol(const QRectF &square);
    void openPanel();

    QPointer<QWidget> searchIcon;
    // The dark pixels of the search icon, in its own coordinates; null until
    // a measurement has found one.
    QRect glyphRect;
    QFileSystemWatcher *watcher;
    bool updateReady;
};

StatusIcon::StatusIcon(QWidget *container, QWidget *searchIcon)
    : QWidget(container)
    , searchIcon(searchIcon)
    , watcher(new QFileSystemWatcher(this))
    , updateReady(false)
{
    setObjectName(QStringLiteral("zorviStatusIcon"));
    // The row gives the icon its own width and its full height, so that the
    // glyph's rows of the search icon are rows of the icon too.
    setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding));
    setAttribute(Qt::WA_AcceptTouchEvents, true);
    // The update flag is created and removed by other processes; any change
    // in /tmp is a reason to look again.
    connect(watcher, &QFileSystemWatcher::directoryChanged, watcher,
            [this] { refreshUpdateFlag(); });
    watcher->addPath(QStringLiteral("/tmp"));
    refreshUpdateFlag();
}

StatusIcon::~StatusIcon() = default;

bool StatusIcon::event(QEvent *e)
{
    switch (e->type()) {
    case QEvent::TouchBegin:
        // Accepted, so that the rest of the touch comes here.
        e->accept();
        return true;
    case QEvent::TouchEnd:
        openPanel();
        return true;
    default:
        return QWidget::event(e);
    }
}

QSize StatusIcon::sizeHint() const
{
    const int searchHeight = searchIcon ? searchIcon->sizeHint().height() : 0;
    const int side = searchHeight >= 1 ? searchHeight : fallbackSide;
    return QSize(side, side);
}

void StatusIcon::paintEvent(QPaintEvent *)
{
    const qreal w = width();
    const qreal h = height();
    qreal side = 0.4 * h;
    qreal centre = 0.5 * h;
    if (glyphRect.isValid()) {
        // Both widgets stand in the same row, so the glyph's rows are used as
        // the icon's own.
        side = glyphRect.height();
        centre = (glyphRect.top() + glyphRect.bottom()) / 2 + 0.5;
    }
    drawSymbol(QRectF((w - side) / 2, centre - side / 2, side, side));
}

void StatusIcon::resizeEvent(QResizeEvent *)
{
    if (!glyphRect.isNull())
        return;
    // Measured from the event loop, once the row has placed and painted the
    // search icon.
    runLater(this, 0, [this] { measureSearchGlyph(); });
}

void StatusIcon::refreshUpdateFlag()
{
    const bool exists = QFile::exists(QLatin1String(updateReadyFlag));
    if (exists == updateReady)
        return;
    updateReady = exists;
    update();
}

void StatusIcon::measureSearchGlyph()
{
    if (!glyphRect.isNull())
        return;
    if (!searchIcon || !searchIcon->isVisible())
        return;

    const QImage image = searchIcon->grab().toImage();
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            // A grey level below 128, weighted 3:4:1; alpha plays no part.
            const QRgb pixel = image.pixel(x, y);
            if (3 * qRed(pixel) + 4 * qGreen(pixel) + qBlue(pixel) < 1024)
                box = box | QRect(x, y, 1, 1);
        }
    }
    glyphRect = box;
    pluginLog(QStringLiteral("search glyph %1,%2 %3x%4 in %5x%6")
                  .arg(box.left())
                  .arg(box.top())
                  .arg(box.width())
                  .arg(box.height())
                  .arg(searchIcon->width())
                  .arg(searchIcon->height()));
    update();
}

void StatusIcon::drawSymbol(const QRectF &square)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    // A 42 x 42 design grid; line widths scale with it.
    painter.translate(square.topLeft());
    painter.scale(square.width() / 42, square.height() / 42);
    painter.setPen(QPen(Qt::black, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);

    // A page with three lines of text, a phone with its home bar, and an
    // arrow each way between them.
    painter.drawRoundedRect(QRectF(2.5, 9, 15, 24), 2.5, 2.5);
    painter.drawLine(QLineF(6.5, 14, 13.5, 14));
    painter.drawLine(QLineF(6.5, 18.5, 13.5, 18.5));
    painter.drawLine(QLineF(6.5, 23, 11, 23));
    painter.drawRoundedRect(QRectF(30.5, 15, 9, 18), 2.2, 2.2);
    painter.drawLine(QLineF(33.5, 29.5, 36.5, 29.5));
    painter.drawLine(QLineF(20, 18.5, 28, 18.5));
    const QPointF rightHead[] = {{25, 15.5}, {28, 18.5}, {25, 21.5}};
    painter.drawPolyline(rightHead, 3);
    painter.drawLine(QLineF(28, 26, 20, 26));
    const QPointF leftHead[] = {{23, 23}, {20, 26}, {23, 29}};
    painter.drawPolyline(leftHead, 3);

    if (updateReady) {
        painter.setPen(QPen(Qt::white, 2.4));
        painter.setBrush(Qt::black);
        painter.drawEllipse(QRectF(33.6, 8.6, 10.8, 10.8));
    }
}

void StatusIcon::openPanel()
{
    // Nickel's language is read at every tap, so a change there shows the
    // next time the panel opens.
    loadUiLanguage();
    // The window the icon stands in now: Nickel may have moved its status
    // bar to another one since. Every icon of a window opens the window's one
    // panel, which goes with the window.
    QWidget *screen = window();
    Panel *panel = panelOf(screen);
    if (!panel)
        panel = new Panel(screen);
    panel->open();
}

QWidget *createStatusIcon(QWidget *container, QWidget *searchIcon)
{
    return new StatusIcon(container, searchIcon);
}

} // namespace zorvi
