// The library rescan trigger in a host that has Nickel's library loaded: the
// flag file in /tmp, the quiet period before the rescan, and Nickel's sync().

#include "logmessages.h"
#include "nickel/rescanner.h"
#include "plugworkflowmanager.h"

#include <QFileSystemWatcher>
#include <QTimer>
#include <QtTest>

namespace {

const QString flag = QString::fromLatin1(zorvi::rescanFlag);

bool touch(const QString &path)
{
    return QFile(path).open(QIODevice::WriteOnly);
}

} // namespace

class TestRescanner : public QObject {
    Q_OBJECT

    std::unique_ptr<PlugWorkflowManager> manager;

private slots:
    void init()
    {
        for (const QString &path : {flag, QString("/tmp/book.epub"), QString(zorvi::logFile)})
            QFile::remove(path);
        manager.reset(new PlugWorkflowManager(nullptr));
        PlugWorkflowManager::setSharedInstance(manager.get());
    }

    void flagServedAfterQuietPeriod()
    {
        zorvi::Rescanner rescanner(nullptr);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(touch(flag));
        QTRY_COMPARE_WITH_TIMEOUT(manager->syncCount(), 1, 5000);
        QVERIFY(clock.elapsed() >= 1425); // a coarse timer may fire up to 5 % early
        QVERIFY(!QFile::exists(flag));
    }

    void countdown_data()
    {
        QTest::addColumn<bool>("flagAtStart");
        QTest::addColumn<bool>("withManager");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("counting");
        QTest::addColumn<QString>("logged");
        const QString rescanning = "asking Nickel to rescan the library";
        QTest::newRow("a flag set before start-up is served")
            << true << true << "" << true << rescanning;
        QTest::newRow("without a manager the request is dropped with a log line")
            << true << false << "" << true
            << "library rescan skipped: no PlugWorkflowManager instance";
        QTest::newRow("another file appearing beside the flag starts the count again")
            << true << true << "create /tmp/book.epub" << true << rescanning;
        QTest::newRow("another file appearing without the flag starts nothing")
            << false << true << "create /tmp/book.epub" << false << "";
        QTest::newRow("the flag deleted by someone else leaves the count running")
            << true << true << "delete /tmp/zorvi-rescan" << true << rescanning;
    }

    void countdown()
    {
        QFETCH(bool, flagAtStart);
        QFETCH(bool, withManager);
        QFETCH(QString, change);
        QFETCH(bool, counting);
        QFETCH(QString, logged);
        if (!withManager)
            PlugWorkflowManager::setSharedInstance(nullptr);
        QVERIFY(!flagAtStart || touch(flag));
        zorvi::Rescanner rescanner(nullptr);
        QTimer *countdown = rescanner.findChild<QTimer *>();
        QCOMPARE(countdown->isActive(), flagAtStart);
        QVERIFY(countdown->isSingleShot() && countdown->interval() == 1500);
        if (!change.isEmpty()) {
            // Only a change that starts the count again may leave it running.
            const bool create = change.startsWith("create");
            if (create)
                countdown->stop();
            QSignalSpy changes(rescanner.findChild<QFileSystemWatcher *>(),
                               &QFileSystemWatcher::directoryChanged);
            const QString path = change.section(' ', 1);
            QVERIFY(create ? touch(path) : QFile::remove(path));
            QVERIFY(changes.wait(5000));
        }
        QCOMPARE(countdown->isActive(), counting);
        if (counting) {
            countdown->stop();
            QMetaObject::invokeMethod(countdown, "timeout");
        }
        QCOMPARE(manager->syncCount(), counting && withManager ? 1 : 0);
        QVERIFY(!QFile::exists(flag));
        QCOMPARE(logMessages().join(", "), logged);
    }
};

QTEST_GUILESS_MAIN(TestRescanner)
#include "tst_rescanner.moc"
