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
    // written, or the storage is not mounted so that the add-on directory
    // cannot be made.
    void unwritableStorageIsLeftAlone_data()
    {
        QTest::addColumn<QString>("mounted"); // read-only over it
        QTest::addColumn<QByteArray>("log");  // there before; null: no log
        QTest::newRow("a read-only add-on directory keeps its log")
            << QString::fromLatin1(zorvi::addonDir) << QByteArray("kept\n");
        QTest::newRow("storage that is not mounted gets no log")
            << QStringLiteral("/mnt/onboard") << QByteArray();
    }

    void unwritableStorageIsLeftAlone()
    {
        QFETCH(QString, mounted);
        QFETCH(QByteArray, log);
        if (!log.isNull()) {
            writeLog(log);
            QVERIFY(run("mount", {"--bind", mounted, mounted}));
            QVERIFY(run("mount", {"-o", "remount,bind,ro", mounted}));
        } else {
            QVERIFY(run("mount", {"-t", "tmpfs", "-o", "ro", "none", mounted}));
        }

        zorvi::pluginLog(QStringLiteral("lost"));
        const bool exists = QFile::exists(QString::fromLatin1(zorvi::logFile));
        const QByteArray after = readLog();

        QVERIFY(run("umount", {mounted}));
        QCOMPARE(exists, !log.isNull());
        QCOMPARE(after, log);
    }
};

QTEST_GUILESS_MAIN(TestPluginLog)
#include "tst_pluginlog.moc"
