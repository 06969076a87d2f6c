// The add-on's log on the reader's storage. Runs in a private mount
// namespace, so /mnt is a fresh tmpfs and may be remounted at will.

#include "plugin/devicepaths.h"
#include "plugin/pluginlog.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

QByteArray readLog()
{
    QFile file(QString::fromLatin1(zorvi::logFile));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeLog(const QByteArray &content)
{
    QDir().mkpath(QString::fromLatin1(zorvi::addonDir));
    QFile file(QString::fromLatin1(zorvi::logFile));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
}

// Runs a mount or umount command; true when it succeeded.
bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

const QRegularExpression
    lineFormat(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d (.*)$"));

} // namespace

class TestPluginLog : public QObject {
    Q_OBJECT

private slots:
    void init() { QDir(QStringLiteral("/mnt/onboard/.adds")).removeRecursively(); }

    // The first line creates the directory and the file; later lines are
    // appended in order, a line feed in a message continuing it on a line of
    // its own without a time stamp.
    void linesAppendInOrder()
    {
        QVERIFY(!QDir(QString::fromLatin1(zorvi::addonDir)).exists());
        zorvi::pluginLog(QStringLiteral("plugin loaded"));
        zorvi::pluginLog(QStringLiteral("second\nwith a continuation"));
        const QList<QByteArray> lines = readLog().split('\n');
        QCOMPARE(lines.size(), 4);
        const QRegularExpressionMatch match = lineFormat.match(QString::fromUtf8(lines.at(0)));
        QVERIFY2(match.hasMatch(), lines.at(0).constData());
        QCOMPARE(match.captured(1), QStringLiteral("plugin loaded"));
        QCOMPARE(lineFormat.match(QString::fromUtf8(lines.at(1))).captured(1),
                 QStringLiteral("second"));
        QCOMPARE(lines.at(2), QByteArray("with a continuation"));
        QVERIFY(lines.at(3).isEmpty());
    }

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
        if (away) {
            QVERIFY(run("umount", {"/mnt/onboard"}));
        } else {
            QVERIFY(run("mount", {"--bind", dir, dir}));
            QVERIFY(run("mount", {"-o", "remount,bind,ro", dir}));
        }

        zorvi::pluginLog(QStringLiteral("lost"));
        const QStringList onMountPoint = QDir(QStringLiteral("/mnt/onboard")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
        const QByteArray after = readLog();

        if (away)
            QVERIFY(run("mount", {"-t", "tmpfs", "zorvi-onboard", "/mnt/onboard"}));
        else
            QVERIFY(run("umount", {dir}));
        QCOMPARE(after, away ? QByteArray() : QByteArray("kept\n"));
        if (away)
            QCOMPARE(onMountPoint, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPluginLog)
#include "tst_pluginlog.moc"
