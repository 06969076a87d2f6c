// The library rescan trigger in a process without Nickel's library: it says
// so once and leaves the flag file alone.

#include "logmessages.h"
#include "nickel/rescanner.h"

#include <QFileSystemWatcher>
#include <QTimer>
#include <QtTest>

class TestRescannerWithoutNickel : public QObject {
    Q_OBJECT

private slots:
    void staysInert()
    {
        const QString flag = QString::fromLatin1(zorvi::rescanFlag);
        QVERIFY(QFile(flag).open(QIODevice::WriteOnly));
        zorvi::Rescanner rescanner(nullptr);
        QCOMPARE(logMessages(),
                 QStringList{"library rescan unavailable: PlugWorkflowManager not found"});
        // Nothing watched and nothing counting: no flag can ever take effect.
        QVERIFY(rescanner.findChild<QFileSystemWatcher *>()->directories().isEmpty());
        QVERIFY(!rescanner.findChild<QTimer *>()->isActive());
        QVERIFY(QFile::exists(flag));
    }
};

QTEST_GUILESS_MAIN(TestRescannerWithoutNickel)
#include "tst_rescannerwithoutnickel.moc"
