#include "zorvidprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <csignal>
#include <cstdio>

ZorvidProcess::ZorvidProcess()
    : state(QDir::temp().filePath(QStringLiteral("zorvid-state-XXXXXX")))
{
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setReadChannel(QProcess::StandardError);
}

ZorvidProcess::~ZorvidProcess()
{
    if (isRunning())
        stop();
}

QStringList ZorvidProcess::withDefaults(const QStringList &arguments) const
{
    QStringList all = arguments;
    if (!all.contains(QStringLiteral("--state-dir")))
        all << QStringLiteral("--state-dir") << state.path();
    // Suites run in parallel on one loopback interface.
    if (!all.contains(QStringLiteral("--phone-port")))
        all << QStringLiteral("--phone-port") << QStringLiteral("0");
    return all;
}

bool ZorvidProcess::start(const QStringList &arguments)
{
    errors.clear();
    address.clear();
    process.start(QStringLiteral(ZORVID), withDefaults(arguments));
    if (!process.waitForStarted(5000))
        return false;

    // The start line comes once both the socket and the pairing endpoint
    // listen.
    static const QRegularExpression ready(QStringLiteral("listening on \\S+, pairing at (\\S+),"));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        const QRegularExpressionMatch match = ready.match(log());
        if (match.hasMatch()) {
            address = match.captured(1);
            return true;
        }
        if (!isRunning())
            break;
        process.waitForReadyRead(int(qMax<qint64>(1, 5000 - clock.elapsed())));
    }
    std::fprintf(stderr, "zorvid did not start:\n%s\n", qPrintable(log()));
    if (isRunning())
        kill();
    return false;
}

bool ZorvidProcess::runToExit(const QStringList &arguments)
{
    errors.clear();
    process.start(QStringLiteral(ZORVID), withDefaults(arguments));
    return process.waitForStarted(5000) && waitForExit();
}

bool ZorvidProcess::stop()
{
    if (!isRunning())
        return false;
    ::kill(pid_t(process.processId()), SIGTERM);
    return waitForExit() && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void ZorvidProcess::kill()
{
    process.kill();
    process.waitForFinished(5000);
}

bool ZorvidProcess::waitForExit(int ms)
{
    const bool ended = !isRunning() || process.waitForFinished(ms);
    log();
    return ended;
}

QString ZorvidProcess::log()
{
    errors += process.readAllStandardError();
    return QString::fromUtf8(errors);
}

QStringList ZorvidProcess::linesFrom(int lines)
{
    return log().split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(lines);
}

quint16 ZorvidProcess::phonePort() const
{
    return quint16(QUrl(address).port());
}

void ZorvidProcess::clearState()
{
    QDir dir(state.path());
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden))
        dir.remove(name);
}

bool ZorvidProcess::writeClients(const QList<QPair<QString, QString>> &clients)
{
    QJsonArray array;
    qint64 pairedAt = 1700000000;
    for (const auto &client : clients) {
        array.append(QJsonObject{
            {"id", client.first}, {"name", client.second}, {"paired_at", double(pairedAt)}});
        pairedAt += 86400;
    }
    QSaveFile file(clientsFile());
    return file.open(QIODevice::WriteOnly) &&
           file.write(QJsonDocument(QJsonObject{{"clients", array}}).toJson()) > 0 && file.commit();
}
