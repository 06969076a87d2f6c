// The add-on's log on the reader's storage: its size bound, and its storage
// out of reach. (The form of its lines is read by every suite through
// addonlog.h.) Runs in a private mount namespace, so /mnt is a fresh tmpfs
// and may be remounted at will.

#include "addonlog.h"
#include "plugin/pluginlog.h"

#include <QtTest>

namespace {

void writeLog(const QByteArray &content)
{
    QDir().mkpath(QString::fromLatin1(zorvi::addonDir));
    QVERIFY(writeFile(QString::fromLatin1(zorvi::logFile), content));
}

} // namespace

class TestPluginLog : public QObject {
    Q_OBJECT

private slots:
    void init() { QDir(QStringLiteral("/mnt/onboard/.adds")).removeRecursively(); }

    void sizeLimit_data()
    {
        QTest::addColumn<int>("existingSize");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("a log of exactly the limit is appended to") << 262144 << false;
        QTest::newRow("a log one byte over the limit starts afresh") << 262145 << true;
    }

    void sizeLimit()
    {
        QFETCH(int, existingSize);
        QFETCH(bool, emptied);
        const QByteArray existing(existingSize, 'x');
        writeLog(existing);

        zorvi::pluginLog(QStringLiteral("after"));

        const QByteArray log = readLog();
        QVERIFY(log.endsWith(" after\n"));
        QCOMPARE(log.count('\n'), 1);
        QCOMPARE(log.startsWith(existing), !emptied);
    }

    // The line is lost and nothing else happens when the log cannot be
    // written there, or when the storage is away (the reader is connected to
    // a computer by USB): its mount point is then a bare folder of the root
    // file system, which must not get the add-on's folder.
    void storageOutOfReachIsLeftAlone_data()
    {
        QTest::addColumn<bool>("away"); // else the add-on folder is read-only
        QTest::newRow("a read-only add-on directory keeps its log") << false;
        QTest::newRow("storage away: its bare mount point stays empty") << true;
    }

    void storageOutOfReachIsLeftAlone()
    {
        QFETCH(bool, away);
        const QString dir = QString::fromLatin1(zorvi::addonDir);
        writeLog("kept\n");
        QVERIFY(away ? run("umount", {"/mnt/onboard"}) : setReadOnly(dir, true));

        zorvi::pluginLog(QStringLiteral("lost"));
        const QStringList onMountPoint =
            QDir(QStringLiteral("/mnt/onboard"))
                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
        const QByteArray after = readLog();

        QVERIFY(away ? run("mount", {"-t", "tmpfs", "zorvi-onboard", "/mnt/onboard"})
                     : setReadOnly(dir, false));
        QCOMPARE(after, away ? QByteArray() : QByteArray("kept\n"));
        if (away)
            QCOMPARE(onMountPoint, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPluginLog)
#include "tst_pluginlog.moc"
