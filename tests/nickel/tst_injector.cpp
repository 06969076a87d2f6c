// The status-bar injection on widgets built like Nickel's: status bars found
// by class name, through Show events and the start-up scan, each given
// exactly one icon before the search icon, and the first one described in
// the log.

#include "nickel/injector.h"
#include "plugin/devicepaths.h"

#include <algorithm>

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

// Nickel's class names; the injector knows status bars by these alone.
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

// Named and titled like a status bar, of another class.
class StatusBarPlaceholder : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
};

namespace {

enum IconRow { BoxRow, GridRow, NoLayout, NoContainer };

struct Shape {
    int iconsBeforeSearch = 3;
    bool searchIcon = true;
    IconRow row = BoxRow;
    bool iconAlready = false;
};

// A status bar as Nickel has them: a clock, then, one level down, the widget
// "iconContainer" whose box layout is the row of icons ending in
// "searchIcon".
template <class Bar = StatusBarView>
Bar *addStatusBar(QWidget *window, int y, const Shape &shape = Shape())
{
    auto *bar = new Bar(window);
    bar->setObjectName(QStringLiteral("statusBar"));
    bar->setGeometry(0, y, 600, 60);
    auto *layout = new QHBoxLayout(bar);
    layout->addWidget(new QLabel(QStringLiteral("10:42"), bar));
    layout->addStretch(1);
    auto *rightSide = new QWidget(bar);
    rightSide->setObjectName(QStringLiteral("rightSide"));
    layout->addWidget(rightSide);
    (new QHBoxLayout(rightSide))->setContentsMargins(0, 0, 0, 0);
    if (shape.row == NoContainer)
        return bar;

    auto *container = new QWidget(rightSide);
    container->setObjectName(QStringLiteral("iconContainer"));
    rightSide->layout()->addWidget(container);
    QLayout *row = nullptr;
    if (shape.row == BoxRow)
        row = new QHBoxLayout(container);
    else if (shape.row == GridRow)
        row = new QGridLayout(container);
    QList<QWidget *> icons;
    if (shape.iconAlready)
        icons << new QWidget(container);
    for (int i = 0; i < shape.iconsBeforeSearch; ++i)
        icons << new QLabel(container);
    if (shape.searchIcon)
        icons << new QLabel(container);
    for (int i = 0; i < icons.size(); ++i) {
        icons[i]->setObjectName(QStringLiteral("icon%1").arg(i));
        icons[i]->setFixedSize(40, 40);
        if (auto *grid = qobject_cast<QGridLayout *>(row))
            grid->addWidget(icons[i], 0, i);
        else if (row)
            row->addWidget(icons[i]);
    }
    if (shape.iconAlready)
        icons.first()->setObjectName(QStringLiteral("zorviStatusIcon"));
    if (shape.searchIcon)
        icons.last()->setObjectName(QStringLiteral("searchIcon"));
    return bar;
}

QList<QWidget *> iconsIn(QWidget *bar)
{
    return bar->findChildren<QWidget *>(QStringLiteral("zorviStatusIcon"));
}

QBoxLayout *rowOf(QWidget *bar)
{
    return qobject_cast<QBoxLayout *>(
        bar->findChild<QWidget *>(QStringLiteral("iconContainer"))->layout());
}

// The log's messages; a message of several lines (the structure) is one.
QStringList logEntries()
{
    QFile file(QString::fromLatin1(zorvi::logFile));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\S* "));
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    lines.removeLast();
    QStringList messages;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = stamp.match(line);
        if (match.hasMatch())
            messages << line.mid(match.capturedLength());
        else if (!messages.isEmpty())
            messages.last() += QLatin1Char('\n') + line;
    }
    return messages;
}

// What the injector says, without the icons' own measurement lines.
QStringList injectorMessages()
{
    QStringList messages = logEntries();
    messages.erase(std::remove_if(messages.begin(), messages.end(),
                                  [](const QString &m) { return m.startsWith("search glyph"); }),
                   messages.end());
    return messages;
}

int countStartingWith(const QStringList &messages, const QString &head)
{
    return int(std::count_if(messages.begin(), messages.end(),
                             [&](const QString &m) { return m.startsWith(head); }));
}

const QString rowNotFound = QStringLiteral("icon row not found; leaving the status bar untouched");

} // namespace

class TestInjector : public QObject {
    Q_OBJECT

private slots:
    void init();
    void oneIconPerStatusBar_data();
    void oneIconPerStatusBar();
    void twoStatusBarsOneStructure();
    void placement_data();
    void placement();
    void leftUntouched_data();
    void leftUntouched();
    void structureDescription();
    void scanCountsTheInsertedIcons();
    void statusBarsByClass_data();
    void statusBarsByClass();

private:
    QScopedPointer<zorvi::Injector> injector;
};

void TestInjector::init()
{
    QFile::remove(QString::fromLatin1(zorvi::logFile));
    // As the start-up installs it: a filter on the whole application.
    injector.reset(new zorvi::Injector(qApp));
    qApp->installEventFilter(injector.data());
}

void TestInjector::oneIconPerStatusBar_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("shows");

    QTest::newRow("shown, hidden and shown again") << QStringList{"show", "hide", "show"} << 2;
    QTest::newRow("hidden at the start-up scan, then shown") << QStringList{"scan", "show"} << 1;
    QTest::newRow("shown, then found again by the scan") << QStringList{"show", "scan"} << 1;
}

void TestInjector::oneIconPerStatusBar()
{
    QFETCH(QStringList, steps);
    QFETCH(int, shows);

    QWidget window;
    window.resize(600, 800);
    StatusBarView *bar = addStatusBar(&window, 740);
    for (const QString &step : steps) {
        if (step == "scan")
            injector->startupScan();
        else if (step == "hide")
            bar->hide();
        else if (window.isVisible())
            bar->show();
        else
            window.show();
        QCOMPARE(iconsIn(bar).size(), 1);
    }
    QCOMPARE(bar->property("zorviInjected"), QVariant(true));
    QCOMPARE(countStartingWith(logEntries(), "icon inserted"), 1);
    // The filter let every Show event through to the status bar.
    QCOMPARE(bar->shows, shows);
}

void TestInjector::twoStatusBarsOneStructure()
{
    QWidget window;
    window.resize(600, 800);
    StatusBarView *top = addStatusBar(&window, 0);
    top->setObjectName(QStringLiteral("topBar"));
    StatusBarView *bottom = addStatusBar(&window, 740);
    bottom->setObjectName(QStringLiteral("bottomBar"));
    window.show();

    QCOMPARE(iconsIn(top).size(), 1);
    QCOMPARE(iconsIn(bottom).size(), 1);
    const QStringList messages = logEntries();
    QCOMPARE(countStartingWith(messages, "icon inserted"), 2);
    QCOMPARE(countStartingWith(messages, "status bar structure:"), 1);
    QVERIFY(messages.first().startsWith("status bar structure:\nStatusBarView \"topBar\""));
}

void TestInjector::placement_data()
{
    QTest::addColumn<bool>("searchIcon");
    QTest::addColumn<int>("iconIndex");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("no searchIcon: the icon ends the row")
        << false << 3 << "icon inserted at the end of the icon row";
    QTest::newRow("searchIcon at index 3: the icon takes 3, the search icon moves to 4")
        << true << 3 << "icon inserted before searchIcon";
}

void TestInjector::placement()
{
    QFETCH(bool, searchIcon);
    QFETCH(int, iconIndex);
    QFETCH(QString, logLine);

    QWidget window;
    Shape shape;
    shape.searchIcon = searchIcon;
    StatusBarView *bar = addStatusBar(&window, 0, shape);
    QBoxLayout *row = rowOf(bar);
    QCOMPARE(row->count(), searchIcon ? 4 : 3);
    window.show();

    const QList<QWidget *> icons = iconsIn(bar);
    QCOMPARE(icons.size(), 1);
    QCOMPARE(row->count(), searchIcon ? 5 : 4);
    QCOMPARE(row->indexOf(icons.first()), iconIndex);
    if (searchIcon)
        QCOMPARE(row->indexOf(bar->findChild<QWidget *>("searchIcon")), 4);
    QVERIFY(icons.first()->isVisible());
    QCOMPARE(injectorMessages().mid(1), QStringList{logLine});
}

void TestInjector::leftUntouched_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("iconAlready");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("a grid layout is not an icon row") << int(GridRow) << false << rowNotFound;
    QTest::newRow("a container without a layout") << int(NoLayout) << false << rowNotFound;
    QTest::newRow("no iconContainer at all") << int(NoContainer) << false << rowNotFound;
    QTest::newRow("an icon already in the row: nothing done, nothing said")
        << int(BoxRow) << true << QString();
}

void TestInjector::leftUntouched()
{
    QFETCH(int, row);
    QFETCH(bool, iconAlready);
    QFETCH(QString, logLine);

    QWidget window;
    Shape shape;
    shape.row = IconRow(row);
    shape.iconAlready = iconAlready;
    StatusBarView *bar = addStatusBar(&window, 0, shape);
    window.show();
    bar->hide();
    bar->show();
    injector->startupScan();

    QCOMPARE(iconsIn(bar).size(), iconAlready ? 1 : 0);
    QCOMPARE(bar->property("zorviInjected"), QVariant(true));
    QStringList said = injectorMessages().mid(1);
    QVERIFY(!said.isEmpty() && said.takeLast().startsWith("startup scan:"));
    QCOMPARE(said, logLine.isEmpty() ? QStringList() : QStringList{logLine});
}

void TestInjector::structureDescription()
{
    QWidget window;
    window.resize(600, 800);
    StatusBarView *bar = addStatusBar(&window, 740);
    QWidget *search = bar->findChild<QWidget *>("searchIcon");
    search->hide();
    search->setGeometry(10, 2, 40, 40);
    const int objects = 1 + bar->findChildren<QObject *>().size();
    window.show();

    const QStringList messages = logEntries();
    QVERIFY(!messages.isEmpty());
    QVERIFY(messages.first().startsWith("status bar structure:\n"));
    QStringList lines = messages.first().split('\n');
    lines.removeFirst();
    QCOMPARE(lines.takeLast(), QString());
    // Every object, widget or not, one line each, in the order of children().
    QCOMPARE(lines.size(), objects);
    QCOMPARE(lines[0],
             QStringLiteral("StatusBarView \"statusBar\" [0,740 600x60] layout=QHBoxLayout"));
    QCOMPARE(lines[1], QStringLiteral("  QHBoxLayout \"\""));
    const QRect container = bar->findChild<QWidget *>("iconContainer")->geometry();
    QVERIFY(lines.contains(
        QStringLiteral("    QWidget \"iconContainer\" [%1,%2 %3x%4] layout=QHBoxLayout")
            .arg(container.x())
            .arg(container.y())
            .arg(container.width())
            .arg(container.height())));
    QVERIFY(lines.contains(QStringLiteral("      QLabel \"searchIcon\" [10,2 40x40] hidden")));
}

void TestInjector::scanCountsTheInsertedIcons()
{
    QWidget window;
    window.resize(600, 800);
    addStatusBar(&window, 0);
    window.show(); // the first status bar gets its icon from the filter
    StatusBarView *later = addStatusBar(&window, 740);
    QVERIFY(!later->isVisible());
    const int widgets = QApplication::allWidgets().size();

    injector->startupScan();
    QCOMPARE(iconsIn(later).size(), 1);
    QCOMPARE(injectorMessages().last(),
             QStringLiteral("startup scan: %1 widgets, 2 status bars").arg(widgets + 1));
}

void TestInjector::statusBarsByClass_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("isStatusBar");

    QTest::newRow("StatusBarView") << "view" << true;
    QTest::newRow("a subclass of StatusBarView") << "subclass" << true;
    QTest::newRow("a widget named and titled like one, of another class") << "placeholder" << false;
}

void TestInjector::statusBarsByClass()
{
    QFETCH(QString, kind);
    QFETCH(bool, isStatusBar);

    QWidget window;
    QWidget *bar = nullptr;
    if (kind == "view")
        bar = addStatusBar<StatusBarView>(&window, 0);
    else if (kind == "subclass")
        bar = addStatusBar<FooterStatusBarView>(&window, 0);
    else
        bar = addStatusBar<StatusBarPlaceholder>(&window, 0);
    bar->setWindowTitle(QStringLiteral("StatusBarView"));
    window.show();
    injector->startupScan();

    QCOMPARE(iconsIn(bar).size(), int(isStatusBar));
    QCOMPARE(bar->property("zorviInjected").isValid(), isStatusBar);
    QCOMPARE(countStartingWith(logEntries(), "status bar structure:"), int(isStatusBar));
}

QTEST_MAIN(TestInjector)
#include "tst_injector.moc"
