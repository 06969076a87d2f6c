// The status-bar injection on widgets built like Nickel's: status bars found
// by class name, through Show events and the start-up scan, each given
// exactly one icon before the search icon, and the first one described in
// the log.

#include "logmessages.h"
#include "nickel/injector.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
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

} // namespace

class TestInjector : public QObject {
    Q_OBJECT

    QScopedPointer<zorvi::Injector> injector;

private slots:
    void init()
    {
        QFile::remove(QString::fromLatin1(zorvi::logFile));
        // As the start-up installs it: a filter on the whole application.
        injector.reset(new zorvi::Injector(qApp));
        qApp->installEventFilter(injector.data());
    }

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

        QWidget window;
        const QString barClass = bar.section(QLatin1Char(' '), 0, 0);
        QWidget *statusBar = barClass == "QWidget"               ? new QWidget(&window)
                             : barClass == "FooterStatusBarView" ? new FooterStatusBarView(&window)
                                                                 : new StatusBarView(&window);
        fill(statusBar, QStringLiteral("StatusBarView"), !bar.contains("without searchIcon"),
             !bar.contains("grid"));
        for (const QString &step : steps) {
            if (step == "scan")
                injector->startupScan();
            else if (step == "hide")
                statusBar->hide();
            else
                (window.isVisible() ? statusBar : &window)->show();
            QCOMPARE(iconsIn(statusBar).size(), int(iconIndex >= 0));
        }
        QCOMPARE(statusBar->property("zorviInjected").isValid(), barClass != "QWidget");
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

    void firstStatusBarDescribed()
    {
        QWidget window;
        QWidget *top = fill(new StatusBarView(&window), QStringLiteral("topBar"));
        QWidget *search = top->findChild<QWidget *>(QStringLiteral("searchIcon"));
        search->hide();
        search->setGeometry(10, 2, 40, 40);
        const int objects = 1 + top->findChildren<QObject *>().size();
        fill(new StatusBarView(&window), QStringLiteral("bottomBar"))->move(0, 740);
        window.show();

        QCOMPARE(window.findChildren<QWidget *>(QStringLiteral("zorviStatusIcon")).size(), 2);
        const QStringList messages = logMessages();
        const QString before = QStringLiteral("icon inserted before searchIcon");
        QCOMPARE(QStringList(messages.mid(1)), (QStringList{before, before}));
        QStringList lines = messages.first().split(QLatin1Char('\n'));
        QCOMPARE(lines.takeFirst(), QStringLiteral("status bar structure:"));
        QCOMPARE(lines.takeLast(), QString());
        // Every object, widget or not, one line each, in the order of children().
        QCOMPARE(lines.size(), objects);
        QCOMPARE(lines[0],
                 QStringLiteral("StatusBarView \"topBar\" [0,0 600x60] layout=QHBoxLayout"));
        QCOMPARE(lines[1], QStringLiteral("  QHBoxLayout \"\""));
        QVERIFY(lines.contains(QStringLiteral("      QLabel \"searchIcon\" [10,2 40x40] hidden")));
    }
};

QTEST_MAIN(TestInjector)
#include "tst_injector.moc"
