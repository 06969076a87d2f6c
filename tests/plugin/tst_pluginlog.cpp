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

bool run(const QStringList &command)
{
    return QProcess::execute(command.first(), command.mid(1)) == 0;
}

const QRegularExpression
    lineFormat(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d (.*)$"));

} // namespace

class TestPluginLog : public QObject {
    Q_OBJECT

private slots:
    void init() { QDir(QStringLiteral("/mnt/onboard/.adds")).removeRecursively(); }

    void firstLineCreatesDirectoryAndFile()
    {
        QVERIFY(!QDir(QString::fromLatin1(zorvi::addonDir)).exists());
        zorvi::pluginLog(QStringLiteral("plugin loaded"));
        const QByteArray log = readLog();
        QVERIFY(log.endsWith("\n"));
        QCOMPARE(log.count('\n'), 1);
        const QRegularExpressionMatch match = lineFormat.match(QString::fromUtf8(log.chopped(1)));
        QVERIFY2(match.hasMatch(), log.constData());
        QCOMPARE(match.captured(1), QStringLiteral("plugin loaded"));
    }

    void linesAppendInOrder()
    {
        zorvi::pluginLog(QStringLiteral("first"));
        zorvi::pluginLog(QStringLiteral("second\nwith a continuation"));
        const QList<QByteArray> lines = readLog().split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines.at(0).endsWith(" first"));
        QVERIFY(lines.at(1).endsWith(" second"));
        QCOMPARE(lines.at(2), QByteArray("with a continuation"));
        QVERIFY(lines.at(3).isEmpty());
    }

    void sizeLimit_data()
    {
        QTest::addColumn<int>("existingSize");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("a small log is appended to") << 100 << false;
        QTest::newRow("a log of exactly the limit is appended to") << 262144 << false;
        QTest::newRow("a log one byte over the limit starts afresh") << 262145 << true;
        QTest::newRow("a much larger log starts afresh") << 1000000 << true;
    }

    void sizeLimit()
    {
        QFETCH(int, existingSize);
        QFETCH(bool, emptied);
        const QByteArray existing(existingSize, 'x');
        writeLog(existing);

        zorvi::pluginLog(QStringLiteral("after"));

        const QByteArray log = readLog();
        if (emptied) {
            QCOMPARE(log.count('\n'), 1);
            QVERIFY(log.endsWith(" after\n"));
        } else {
            QVERIFY(log.startsWith(existing));
            QVERIFY(log.mid(existingSize).endsWith(" after\n"));
            QCOMPARE(log.mid(existingSize).count('\n'), 1);
        }
    }

    void unwritableLogIsLeftAlone()
    {
        writeLog("kept\n");
        const QString dir = QString::fromLatin1(zorvi::addonDir);
        QVERIFY(run({QStringLiteral("mount"), QStringLiteral("--bind"), dir, dir}));
        QVERIFY(run({QStringLiteral("mount"), QStringLiteral("-o"),
                     QStringLiteral("remount,bind,ro"), dir}));

        zorvi::pluginLog(QStringLiteral("lost"));
        const QByteArray log = readLog();

        QVERIFY(run({QStringLiteral("umount"), dir}));
        QCOMPARE(log, QByteArray("kept\n"));
    }

    void missingStorageIsLeftAlone()
    {
        // The storage is not mounted (or the add-on directory cannot be
        // made): the line is lost and nothing else happens.
        QVERIFY(run({QStringLiteral("mount"), QStringLiteral("-t"), QStringLiteral("tmpfs"),
                     QStringLiteral("-o"), QStringLiteral("ro"), QStringLiteral("none"),
                     QStringLiteral("/mnt/onboard")}));
        zorvi::pluginLog(QStringLiteral("lost"));
        const bool created = QFile::exists(QString::fromLatin1(zorvi::logFile));
        QVERIFY(run({QStringLiteral("umount"), QStringLiteral("/mnt/onboard")}));
        QVERIFY(!created);
    }
};

QTEST_GUILESS_MAIN(TestPluginLog)
#include "tst_pluginlog.moc"
