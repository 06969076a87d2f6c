// The status icon on widgets built like Nickel's: injected into status bars
// found by class name (one icon before the search icon, the first bar
// described in the log); its symbol placed on the search glyph, the size it
// asks of the row, its badge, and a real tap that opens the panel.

#include "addonlog.h"
#include "nickel/injector.h"
#include "nickel/statusicon.h"
#include "touchscreen.h"
#include "ui/panel.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QtTest>

// Nickel's class name; the injector knows status bars by it alone.
class StatusBarView : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    int shows = 0;

protected:
    void showEvent(QShowEvent *) override { ++shows; }
};

class FooterStatusBarView : public StatusBarView {
    Q_OBJECT

public:
    using StatusBarView::StatusBarView;
};

namespace {

// Builds a status bar as Nickel has them: two levels down, the widget
// "iconContainer" whose layout is the row of three icons and "searchIcon".
QWidget *fill(QWidget *bar, const QString &name, bool searchIcon = true, bool boxRow = true)
{
    bar->setObjectName(name);
    bar->setWindowTitle(QStringLiteral("StatusBarView"));
    bar->resize(600, 60);
    auto *layout = new QHBoxLayout(bar);
    auto *rightSide = new QWidget(bar);
    layout->addWidget(rightSide);
    auto *container = new QWidget(rightSide);
    container->setObjectName(QStringLiteral("iconContainer"));
    (new QHBoxLayout(rightSide))->addWidget(container);
    QLayout *row =
        boxRow ? static_cast<QLayout *>(new QHBoxLayout(container)) : new QGridLayout(container);
    for (int i = 0; i < 3 + searchIcon; ++i) {
        auto *icon = new QLabel(container);
        icon->setObjectName(i < 3 ? QString() : QStringLiteral("searchIcon"));
        icon->setFixedSize(40, 40);
        row->addWidget(icon);
    }
    return bar;
}

QList<QWidget *> iconsIn(QWidget *bar)
{
    return bar->findChildren<QWidget *>(QStringLiteral("zorviStatusIcon"));
}

// Nickel's search icon in small: 48 x 48, white, with a glyph box of some
// colour on rows 12 to 35.
struct SearchIcon : QWidget {
    using QWidget::QWidget;
    QColor glyph = Qt::white;
    int hintHeight = 48;

    QSize sizeHint() const override { return QSize(48, hintHeight); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        painter.fillRect(14, 12, 20, 24, glyph);
    }
};

// A status bar's icon row laid out by hand: the window is the container.
struct Row {
    QWidget window;
    SearchIcon *search;
    QWidget *icon;

    explicit Row(bool withSearchIcon = true)
        : search(withSearchIcon ? new SearchIcon(&window) : nullptr)
        , icon(zorvi::createStatusIcon(&window, search))
    {
        if (search)
            search->setGeometry(300, 0, 48, 48);
    }
};

// The outer edges of the icon's own ink (its painting alone, on a transparent
// image), to a fraction of a pixel: the outermost lines of ink along each axis
// are straight frame edges, covered as far as their strongest pixel says.
QRectF inkEdges(QWidget *icon)
{
    QImage image(icon->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    icon->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    QVector<qreal> columns(image.width()), rows(image.height());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            columns[x] = qMax(columns[x], qAlpha(image.pixel(x, y)) / 255.0);
            rows[y] = qMax(rows[y], qAlpha(image.pixel(x, y)) / 255.0);
        }
    }
    const auto edges = [](const QVector<qreal> &cover) {
        int first = 0, last = cover.size() - 1;
        while (first < last && cover[first] == 0)
            ++first;
        while (last > first && cover[last] == 0)
            --last;
        return QPointF(first + 1 - cover[first], last + cover[last]);
    };
    const QPointF x = edges(columns), y = edges(rows);
    return QRectF(QPointF(x.x(), y.x()), QPointF(x.y(), y.y()));
}

QList<QWidget *> panelsOf(QWidget &window)
{
    return window.findChildren<QWidget *>(QLatin1String(zorvi::panelName));
}

} // namespace

class TestStatusIcon : public QObject {
    Q_OBJECT

private slots:
    void init() { clearLog(); }

    void injection_data()
    {
        QTest::addColumn<QString>("bar"); // its class, then how its row differs
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("iconIndex"); // -1: no icon
        QTest::addColumn<QStringList>("logged");
        const QString structure = "status bar structure:",
                      before = "icon inserted before searchIcon",
                      scan = "startup scan: %1 widgets, 1 status bars";

        QTest::newRow("shown, hidden and shown again: one icon, before the search icon")
            << "StatusBarView" << QStringList{"show", "hide", "show"} << 3
            << QStringList{structure, before};
        QTest::newRow("hidden at the start-up scan, then shown")
            << "StatusBarView" << QStringList{"scan", "show"} << 3
            << QStringList{structure, before, scan};
        QTest::newRow("no search icon: the icon ends the row")
            << "StatusBarView without searchIcon" << QStringList{"show", "scan"} << 3
            << QStringList{structure, "icon inserted at the end of the icon row", scan};
        QTest::newRow("a grid row: left untouched, and never tried again")
            << "StatusBarView with a grid row" << QStringList{"show", "hide", "show", "scan"} << -1
            << QStringList{structure, "icon row not found; leaving the status bar untouched", scan};
        QTest::newRow("a subclass of StatusBarView is a status bar")
            << "FooterStatusBarView" << QStringList{"show", "scan"} << 3
            << QStringList{structure, before, scan};
        QTest::newRow("another class, named and titled like one, is never touched")
            << "QWidget" << QStringList{"show", "scan"} << -1
            << QStringList{"startup scan: %1 widgets, 0 status bars"};
    }

    void injection()
    {
        QFETCH(QString, bar);
        QFETCH(QStringList, steps);
        QFETCH(int, iconIndex);
        QFETCH(QStringList, logged);
        // As the start-up installs it: a filter on the whole application.
        zorvi::Injector injector(qApp);
        qApp->installEventFilter(&injector);

        QWidget window;
        const QString barClass = bar.section(QLatin1Char(' '), 0, 0);
        QWidget *statusBar = barClass == "QWidget"               ? new QWidget(&window)
                             : barClass == "FooterStatusBarView" ? new FooterStatusBarView(&window)
                                                                 : new StatusBarView(&window);
        fill(statusBar, QStringLiteral("StatusBarView"), !bar.contains("without searchIcon"),
             !bar.contains("grid"));
        for (const QString &step : steps) {
            if (step == "scan")
                injector.startupScan();
            else if (step == "hide")
                statusBar->hide();
            else
                (window.isVisible() ? statusBar : &window)->show();
            QCOMPARE(iconsIn(statusBar).size(), int(iconIndex >= 0));
        }
        // The filter let every Show event through to the status bar.
        if (auto *view = qobject_cast<StatusBarView *>(statusBar))
            QCOMPARE(view->shows, int(steps.count("show")));
        if (iconIndex >= 0) {
            QWidget *icon = iconsIn(statusBar).first();
            QCOMPARE(icon->parentWidget()->layout()->indexOf(icon), iconIndex);
            QVERIFY(icon->isVisible());
        }
        // The scan counts the inserted icons among the widgets.
        logged.replaceInStrings("%1", QString::number(QApplication::allWidgets().size()));
        QStringList said;
        for (const QString &message : logMessages())
            said << message.section(QLatin1Char('\n'), 0, 0);
        QCOMPARE(said, logged);
    }

    // Only the first status bar is described in the log; both get their icon.
    void firstStatusBarDescribed()
    {
        zorvi::Injector injector(qApp);
        qApp->installEventFilter(&injector);
        QWidget window;
        fill(new StatusBarView(&window), QStringLiteral("topBar"));
        fill(new StatusBarView(&window), QStringLiteral("bottomBar"))->move(0, 740);
        window.show();

        const QStringList messages = logMessages();
        const QString before = QStringLiteral("icon inserted before searchIcon");
        QCOMPARE(QStringList(messages.mid(1)), (QStringList{before, before}));
        QVERIFY(messages.first().startsWith(QLatin1String("status bar structure:")));
    }

    void symbolSquare_data()
    {
        QTest::addColumn<int>("searchHint"); // -1: no search icon
        QTest::addColumn<QColor>("glyph");
        QTest::addColumn<int>("height");
        QTest::addColumn<QRectF>("square");
        // Glyph rows 12 to 35: centre line (12 + 35) / 2 + 0.5 = 23.5, not the
        // box's own middle at 24. Without a glyph: side 0.4 of the height.
        QTest::newRow("a black glyph: side 24, centred, top 11.5")
            << 48 << QColor(Qt::black) << 48 << QRectF(12, 11.5, 24, 24);
        QTest::newRow("a blank search icon: side 20 of 50, top 15")
            << 48 << QColor(Qt::white) << 50 << QRectF(14, 15, 20, 20);
        QTest::newRow("a search icon's hint height of 0: 70 wide")
            << 0 << QColor(Qt::white) << 50 << QRectF(25, 15, 20, 20);
        QTest::newRow("no search icon: 70 wide") << -1 << QColor() << 50 << QRectF(25, 15, 20, 20);
    }

    void symbolSquare()
    {
        QFETCH(int, searchHint);
        QFETCH(QColor, glyph);
        QFETCH(int, height);
        QFETCH(QRectF, square);

        Row row(searchHint >= 0);
        if (row.search) {
            row.search->hintHeight = searchHint;
            row.search->glyph = glyph;
        }
        // As the row places it: its size hint's width, the row's height.
        row.icon->setGeometry(0, 0, row.icon->sizeHint().width(), height);
        row.window.show();
        QCoreApplication::processEvents(); // the icon's zero-delay measurement

        // The frames' outer edges, with half of the 2.2 pen beyond them in the
        // 42 x 42 design grid, to a tenth of a pixel: a centre line off by half
        // a pixel or a side off by one shows.
        const qreal scale = square.width() / 42;
        const QRectF expected(square.left() + 1.4 * scale, square.top() + 7.9 * scale, 39.2 * scale,
                              26.2 * scale);
        const QRectF edges = inkEdges(row.icon);
        QString message;
        QDebug(&message) << "ink" << edges << "expected" << expected;
        QVERIFY2((edges.topLeft() - expected.topLeft()).manhattanLength() < 0.1 &&
                     (edges.bottomRight() - expected.bottomRight()).manhattanLength() < 0.1,
                 qPrintable(message));
    }

    void badgeFollowsTheUpdateFlag()
    {
        const QString flag = QString::fromLatin1(zorvi::updateReadyFlag);
        QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
        Row row(false);
        row.icon->resize(100, 100);
        // The symbol's square is 40 wide from x = 30, its frames end at 68.7;
        // the badge's rim reaches 73.4.
        const auto badge = [&] {
            return inkEdges(row.icon).right() > 71;
        };

        QVERIFY2(badge(), "a flag there at creation shows the badge at once");
        QVERIFY(QFile::remove(flag));
        QTRY_VERIFY(!badge());
        QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
        QTRY_VERIFY(badge());
    }

    // A tap opens the panel over the icon's window once the finger is lifted.
    // The window keeps that one panel, whichever icon opened it: a book
    // opened and closed many times makes a reading view with a status bar,
    // and so an icon, each time, and deletes it again. A panel destroyed by
    // someone else is built anew at the next tap.
    void tapsShareOnePanelPerWindow()
    {
        TouchScreen screen;
        Row row;
        row.icon->setGeometry(0, 0, 48, 48);
        row.window.show();
        // Taps an icon; returns the panels there were while the finger was down.
        const auto tap = [&](QWidget *icon) {
            screen.press(icon, QPoint(24, 24));
            const QList<QWidget *> whilePressed = panelsOf(row.window);
            screen.release(icon, QPoint(24, 24));
            return whilePressed;
        };

        QVERIFY2(tap(row.icon).isEmpty(), "opened before the finger was lifted");
        const QList<QWidget *> opened = panelsOf(row.window);
        QCOMPARE(opened.size(), 1);
        for (int cycle = 0; cycle < 40; ++cycle) {
            QVERIFY(opened.first()->isVisible());
            static_cast<zorvi::Panel *>(opened.first())->dismiss();
            QWidget *statusBar = new QWidget(&row.window);
            QWidget *icon = zorvi::createStatusIcon(statusBar, nullptr);
            icon->setGeometry(0, 0, 48, 48);
            statusBar->show();
            tap(icon);
            QCOMPARE(panelsOf(row.window), opened);
            delete statusBar;
        }

        delete opened.first();
        tap(row.icon);
        QCOMPARE(panelsOf(row.window).size(), 1);
        QVERIFY(panelsOf(row.window).first()->isVisible());
    }

    // Nickel deletes its widgets when it likes: the search icon the icon
    // measures, or the window a status bar stood in before Nickel moved it.
    void nickelsWidgetsMayGoFirst()
    {
        TouchScreen screen;
        QScopedPointer<QWidget> first(new QWidget);
        QWidget second;
        first->resize(600, 800);
        second.resize(800, 600);
        QWidget *statusBar = new QWidget(first.data());
        SearchIcon *search = new SearchIcon(statusBar);
        QWidget *icon = zorvi::createStatusIcon(statusBar, search);
        icon->setGeometry(0, 0, 48, 48);
        first->show();
        screen.tap(icon, QPoint(24, 24));

        delete search;
        QCOMPARE(icon->sizeHint(), QSize(70, 70));
        icon->resize(50, 50);
        QCoreApplication::processEvents(); // a measurement, without the search icon
        QVERIFY(!icon->grab().isNull());

        statusBar->setParent(&second);
        first.reset();
        second.show();
        screen.tap(icon, QPoint(24, 24));
        QCOMPARE(panelsOf(second).size(), 1);
        QCOMPARE(panelsOf(second).first()->geometry(), second.rect());
    }
};

QTEST_MAIN(TestStatusIcon)
#include "tst_statusicon.moc"
