#include "benchdaemon.h"
#include "processid.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <cstdio>

BenchDaemon::BenchDaemon(const QString &stateDir)
    : stateDir(stateDir)
    , logFile(QDir(stateDir).filePath(QStringLiteral("zorvid.log")))
{
    process.setStandardErrorFile(logFile);
}

BenchDaemon::~BenchDaemon()
{
    if (process.state() != QProcess::NotRunning && !stop()) {
        process.kill();
        process.waitForFinished(2000);
    }
}

bool BenchDaemon::start(const QStringList &extra)
{
    // ZORVI_ZORVID names another zorvid to measure, such as the reader's
    // build under its emulator (build-armhf/emulated/zorvid).
    const QByteArray other = qgetenv("ZORVI_ZORVID");
    process.start(other.isEmpty() ? QStringLiteral(ZORVID) : QString::fromLocal8Bit(other),
                  QStringList{QStringLiteral("--state-dir"), stateDir,
                              QStringLiteral("--phone-port"), QStringLiteral("0"),
                              QStringLiteral("--listen"), QStringLiteral("127.0.0.1")} +
                      extra);
    static const QRegularExpression ready(QStringLiteral("listening on \\S+, pairing at (\\S+),"));
    QElapsedTimer clock;
    clock.start();
    while (process.waitForStarted(5000) && clock.elapsed() < 20000 &&
           process.state() == QProcess::Running) {
        const QRegularExpressionMatch match = ready.match(log());
        if (match.hasMatch()) {
            address = match.captured(1);
            return true;
        }
        QThread::msleep(10);
    }
    std::fprintf(stderr, "zorvid did not start:\n%s\n", qPrintable(log()));
    return false;
}

bool BenchDaemon::stop()
{
    ::kill(pid_t(processIdOf(process)), SIGTERM);
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QString BenchDaemon::log() const
{
    QFile file(logFile);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int BenchDaemon::openFiles() const
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid()))
        .entryList(QDir::Files | QDir::System)
        .size();
}

qint64 BenchDaemon::residentKiB(const char *field) const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray name = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}
