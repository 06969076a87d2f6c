// The add-on's flag files in /tmp, in a process without Nickel's library:
// the reading flag, present exactly while a widget of Nickel's class
// ReadingView is on screen, and the rescan and phone flags, then left alone
// (with Nickel's library: tst_rescanner, tst_wifikeeper).

#include "addonlog.h"
#include "nickel/readingtracker.h"
#include "nickel/rescanner.h"
#include "nickel/wifikeeper.h"

#include <QWidget>
#include <QtTest>

#include <memory>

// Nickel's reading view, known to the tracker by its class name only.
class ReadingView : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
};

class TestReadingTracker : public QObject {
    Q_OBJECT

private slots:
    void flagFollowsViews_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("reading");
        QTest::addColumn<QString>("logged");
        const QString opened = "book opened", openedClosed = "book opened, book closed";

        // (A reading view shown and hidden again is the walk's.)
        QTest::newRow("destroying it while shown closes the book")
            << "start, show reading, destroy reading" << false << openedClosed;
        QTest::newRow("another class shown changes nothing") << "start, show other" << false << "";
        QTest::newRow("events other than Show and Hide change nothing")
            << "start, show reading, event Move reading, event Close reading" << true << opened;
        QTest::newRow("hiding or destroying one of two open reading views keeps the book open")
            << "start, show reading, show second, hide reading, show reading, destroy second"
            << true << opened;
        QTest::newRow("a stale flag without a visible reading view is deleted at start-up")
            << "flag file, start" << false << "book closed";
        QTest::newRow("a reading view visible at start-up: the flag, until it is destroyed")
            << "show reading, start, destroy reading" << false << openedClosed;
    }

    void flagFollowsViews()
    {
        QFETCH(QString, steps);
        QFETCH(bool, reading);
        QFETCH(QString, logged);
        const QString flag = QString::fromLatin1(zorvi::readingFlag);
        QFile::remove(flag);
        QFile::remove(QString::fromLatin1(zorvi::logFile));
        QWidget window;
        window.show();
        std::unique_ptr<zorvi::ReadingTracker> tracker;
        QMap<QString, QWidget *> widgets{{"reading", new ReadingView(&window)},
                                         {"second", new ReadingView(&window)},
                                         {"other", new QWidget(&window)}};

        for (const QString &step : steps.split(", ")) {
            const QStringList words = step.split(' ');
            QWidget *widget = widgets.value(words.last());
            if (step == "start") {
                tracker.reset(new zorvi::ReadingTracker(nullptr));
                qApp->installEventFilter(tracker.get());
            } else if (step == "flag file") {
                QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
            } else if (words.first() == "show" || words.first() == "hide") {
                widget->setVisible(words.first() == "show");
            } else if (words.first() == "destroy") {
                delete widgets.take(words.last());
            } else {
                const QMetaEnum types = QEvent::staticMetaObject.enumerator(
                    QEvent::staticMetaObject.indexOfEnumerator("Type"));
                QEvent event(QEvent::Type(types.keyToValue(qPrintable(words.at(1)))));
                QVERIFY(!tracker->eventFilter(widget, &event));
            }
        }
        QCOMPARE(QFile::exists(flag), reading);
        QVERIFY(!QFileInfo(flag).isFile() || QFileInfo(flag).size() == 0);
        QCOMPARE(logMessages().join(", "), logged);
    }

    // Without Nickel's library the rescan trigger says so once, and watches
    // and counts nothing: no flag can ever take effect.
    void rescanFlagLeftAloneWithoutNickel()
    {
        clearLog();
        const QString flag = QString::fromLatin1(zorvi::rescanFlag);
        QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
        zorvi::Rescanner rescanner(nullptr);
        QCOMPARE(logMessages(),
                 QStringList{"library rescan unavailable: PlugWorkflowManager not found"});
        QVERIFY(rescanner.findChild<QFileSystemWatcher *>()->directories().isEmpty());
        QVERIFY(!rescanner.findChild<QTimer *>()->isActive());
        QVERIFY(QFile::exists(flag));
    }

    // Nor can a phone keep Wi-Fi on: the keeper says so once and stays out.
    void wifiKeeperInertWithoutNickel()
    {
        clearLog();
        const zorvi::WifiKeeper keeper(nullptr);
        QCOMPARE(logMessages(),
                 QStringList{"Wi-Fi keep-alive unavailable: WirelessWatchdog not found"});
    }
};

QTEST_MAIN(TestReadingTracker)
#include "tst_readingtracker.moc"
