// The library rescan trigger with Nickel's library loaded: the flag file in
// /tmp, the quiet period before the rescan, and Nickel's sync(). The timer is
// driven by hand, except where a change in /tmp must find it mid-count.

#include "addonlog.h"
#include "nickel/rescanner.h"
#include "plugworkflowmanager.h"

#include <QtTest>

class TestRescanner : public QObject {
    Q_OBJECT

private slots:
    // (Without a manager the request is dropped with a log line: tst_startup.)
    void countdown_data()
    {
        QTest::addColumn<QString>("change"); // made while the count runs
        QTest::addColumn<bool>("pushedBack");
        QTest::newRow("another file appearing beside the flag pushes the rescan back")
            << "create /tmp/book.epub" << true;
        QTest::newRow("a flag set before start-up, deleted by someone else: still served")
            << "delete /tmp/zorvi-rescan" << false;
    }

    void countdown()
    {
        QFETCH(QString, change);
        QFETCH(bool, pushedBack);
        const QString flag = QString::fromLatin1(zorvi::rescanFlag);
        clearLog();
        PlugWorkflowManager manager(nullptr);
        PlugWorkflowManager::setSharedInstance(&manager);

        QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
        zorvi::Rescanner rescanner(nullptr);
        QTimer *countdown = rescanner.findChild<QTimer *>();
        QVERIFY(countdown->isSingleShot());
        QCOMPARE(countdown->interval(), 1500);
        QTRY_VERIFY(countdown->remainingTime() < 1200);
        QSignalSpy changes(rescanner.findChild<QFileSystemWatcher *>(),
                           SIGNAL(directoryChanged(QString)));
        const QString path = change.section(' ', 1);
        QVERIFY(change.startsWith("create") ? QFile(path).open(QIODevice::WriteOnly)
                                            : QFile::remove(path));
        QVERIFY(changes.wait());
        QVERIFY(countdown->isActive());
        QCOMPARE(countdown->remainingTime() > 1300, pushedBack);

        countdown->stop();
        QMetaObject::invokeMethod(countdown, "timeout");
        QCOMPARE(manager.syncCount(), 1);
        QVERIFY(!QFile::exists(flag));
        QCOMPARE(logMessages(), QStringList{"asking Nickel to rescan the library"});
    }

    // Another program saves a file into /tmp four times a second: /tmp is
    // never quiet, yet the rescan comes within the longest wait, 5 s. Those
    // saves alone, without the flag, start no count.
    void aBusyTmpDelaysTheRescanAtMostFiveSeconds()
    {
        PlugWorkflowManager manager(nullptr);
        PlugWorkflowManager::setSharedInstance(&manager);
        zorvi::Rescanner rescanner(nullptr);
        QSignalSpy changes(rescanner.findChild<QFileSystemWatcher *>(),
                           SIGNAL(directoryChanged(QString)));
        QTimer saver;
        connect(&saver, &QTimer::timeout, [] {
            // As editors save: a new file renamed over the old one.
            QSaveFile file(QStringLiteral("/tmp/autosave"));
            file.open(QIODevice::WriteOnly);
            file.write("saved");
            file.commit();
        });
        saver.start(250);
        QTest::qWait(600);
        QVERIFY(changes.count() > 0);
        QVERIFY(!rescanner.findChild<QTimer *>()->isActive());
        QCOMPARE(manager.syncCount(), 0);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(QFile(QString::fromLatin1(zorvi::rescanFlag)).open(QIODevice::WriteOnly));
        QTRY_COMPARE_WITH_TIMEOUT(manager.syncCount(), 1, 7000);
        // Put off by the saves, but not beyond the longest wait.
        QVERIFY2(clock.elapsed() > 4500 && clock.elapsed() < 5600,
                 qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestRescanner)
#include "tst_rescanner.moc"
