// The reading flag: present exactly while a widget of Nickel's class
// ReadingView is on screen, whatever Show, Hide or destruction brought it.

#include "logmessages.h"
#include "nickel/readingtracker.h"

#include <QDir>
#include <QMetaEnum>
#include <QPointer>
#include <QWidget>
#include <QtTest>

// Nickel's reading view, known to the tracker by its class name only.
class ReadingView : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    int destroyedConnections = 0;

protected:
    void connectNotify(const QMetaMethod &signal) override
    {
        destroyedConnections += signal == QMetaMethod::fromSignal(&QObject::destroyed);
    }
};

namespace {

const QString flag = QString::fromLatin1(zorvi::readingFlag);

QStringList split(const QString &list)
{
    return list.split(", ", Qt::SkipEmptyParts);
}

} // namespace

class TestReadingTracker : public QObject {
    Q_OBJECT

    QPointer<QWidget> window;

private slots:
    void init()
    {
        QFile::remove(flag);
        QDir(flag).removeRecursively();
        QFile::remove(QString::fromLatin1(zorvi::logFile));
        window = new QWidget;
        window->show();
    }

    void cleanup() { delete window; }

    void flagFollowsViews_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("reading");
        QTest::addColumn<QString>("logged");
        const QString opened = "book opened", openedClosed = "book opened, book closed";
        QTest::newRow("showing a reading view opens the book")
            << "start, show reading" << true << opened;
        QTest::newRow("hiding the reading view closes the book")
            << "start, show reading, hide reading" << false << openedClosed;
        QTest::newRow("destroying the shown reading view closes the book")
            << "start, show reading, destroy reading" << false << openedClosed;
        QTest::newRow("destroying a reading view never shown changes nothing")
            << "start, destroy reading" << false << "";
        QTest::newRow("another class shown changes nothing") << "start, show other" << false << "";
        QTest::newRow("another class hidden while reading changes nothing")
            << "start, show reading, show other, hide other" << true << opened;
        QTest::newRow("the event type below Show does not open the book")
            << "start, event Destroy reading" << false << "";
        QTest::newRow("the event type above Hide does not close the book")
            << "start, show reading, event Close reading" << true << opened;
        QTest::newRow("hiding one of two open reading views keeps the book open")
            << "start, show reading, show second, hide reading" << true << opened;
        QTest::newRow("destroying one of two open reading views keeps the book open")
            << "start, show reading, show second, destroy reading" << true << opened;
        QTest::newRow("a stale flag with only a hidden reading view is deleted at start-up")
            << "flag file, hide reading, start" << false << "book closed";
        QTest::newRow("a reading view visible at start-up sets the flag")
            << "show reading, start" << true << opened;
        QTest::newRow("a reading view visible at start-up is watched for its destruction")
            << "show reading, start, destroy reading" << false << openedClosed;
        QTest::newRow("a flag that cannot be created is reported")
            << "flag into nowhere, start, show reading" << false
            << "book opened, could not create the reading flag";
        QTest::newRow("a flag that cannot be deleted is reported")
            << "flag folder, start" << true << "book closed, could not delete the reading flag";
    }

    void flagFollowsViews()
    {
        QFETCH(QString, steps);
        QFETCH(bool, reading);
        QFETCH(QString, logged);
        std::unique_ptr<zorvi::ReadingTracker> tracker;
        QMap<QString, QWidget *> widgets{{"reading", new ReadingView(window)},
                                         {"second", new ReadingView(window)},
                                         {"other", new QWidget(window)}};
        for (const QString &step : split(steps)) {
            const QStringList words = step.split(' ');
            QWidget *widget = widgets.value(words.last());
            if (step == "start") {
                tracker.reset(new zorvi::ReadingTracker(nullptr));
                qApp->installEventFilter(tracker.get());
            } else if (step == "flag file") {
                QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
            } else if (step == "flag folder") {
                QVERIFY(QDir().mkpath(flag + "/inside"));
            } else if (step == "flag into nowhere") {
                QVERIFY(QFile::link("/tmp/no-such-folder/flag", flag));
            } else if (words.first() == "show" || words.first() == "hide") {
                widget->setVisible(words.first() == "show");
            } else if (words.first() == "destroy") {
                delete widgets.take(words.last());
            } else {
                QEvent event(QEvent::Type(
                    QMetaEnum::fromType<QEvent::Type>().keyToValue(qPrintable(words.at(1)))));
                QVERIFY(!tracker->eventFilter(widget, &event));
            }
        }
        QCOMPARE(QFile::exists(flag), reading);
        QVERIFY(!QFileInfo(flag).isFile() || QFileInfo(flag).size() == 0);
        QCOMPARE(logMessages(), split(logged));
    }

    void viewShownManyTimesIsConnectedOnce()
    {
        zorvi::ReadingTracker tracker(nullptr);
        qApp->installEventFilter(&tracker);
        auto *view = new ReadingView(window);
        view->show();
        // Qt itself may connect to a shown widget's destroyed() too.
        const int afterFirstShow = view->destroyedConnections;
        for (int i = 0; i < 5; ++i) {
            view->hide();
            view->show();
        }
        QCOMPARE(view->destroyedConnections, afterFirstShow);
    }
};

QTEST_MAIN(TestReadingTracker)
#include "tst_readingtracker.moc"
