// updates/: the add-on's updates, from a check to an archive ready for the next start.

#include "updates/updater.h"

#include "http/jsonobject.h"
#include "process/daemonlog.h"
#include "state/atomicfile.h"
#include "state/readerstorage.h"

#include <QFile>
#include <QJsonDocument>
#include <QStringList>
#include <QVector>

#include <algorithm>

namespace zorvid {

namespace {

// The first line of an update this daemon stages, followed by its version.
const QByteArray stagedMarker = "zorvi-update ";

// The numbers a version begins with: "2.10.1-beta" is {2, 10, 1}.
QVector<int> versionNumbers(const QString &version)
{
    QVector<int> numbers;
    for (const QString &part : version.split(QLatin1Char('.'))) {
        int digits = 0;
        while (digits < part.size() && digits < 9 && part.at(digits).isDigit())
            ++digits;
        if (digits == 0)
            break;
        numbers.append(part.left(digits).toInt());
        if (digits < part.size())
            break;
    }
    while (!numbers.isEmpty() && numbers.last() == 0)
        numbers.removeLast();
    return numbers;
}

bool isNewer(const QString &candidate, const QString &installed)
{
    const QVector<int> a = versionNumbers(candidate);
    const QVector<int> b = versionNumbers(installed);
    return std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end());
}

} // namespace

Updater::Updater(const Settings &settings, ReaderStorage &storage, QObject *parent)
    : QObject(parent)
    , settings(settings)
    , storage(storage)
{
    checkTimer.setSingleShot(true);
    downloadTimer.setSingleShot(true);
    connect(&checkTimer, &QTimer::timeout, this, &Updater::finishCheck);
    connect(&downloadTimer, &QTimer::timeout, this, &Updater::finishDownload);
}

void Updater::start()
{
    checkTimer.stop();
    downloadTimer.stop();
    removeLeftovers(settings.installedFile);
    state = State::Idle;
    version.clear();
    current = settings.factoryVersion;
    QFile installed(settings.installedFile);
    if (installed.open(QIODevice::ReadOnly)) {
        const QString recorded = QJsonDocument::fromJson(installed.readAll())
                                     .object()
                                     .value(QLatin1String("installed"))
                                     .toString();
        if (!recorded.isEmpty())
            current = recorded;
    }

    const QString staged = stagedVersion();
    if (!staged.isEmpty() && isNewer(staged, current)) {
        state = State::Ready;
        version = staged;
        daemonLog(QStringLiteral("update %1 is staged and ready to install").arg(staged));
    } else if (!staged.isEmpty()) {
        // Left behind by an installation cut short after the version was
        // recorded: it is installed already.
        QFile::remove(settings.installSlot);
    }
    setFlag(state == State::Ready);
}

QJsonObject Updater::status() const
{
    static const char *const names[] = {"idle", "checking", "downloading", "ready"};
    int progress = 0;
    if (state == State::Ready)
        progress = 100;
    else if (state == State::Downloading && settings.downloadSeconds > 0)
        progress = int(qMin<qint64>(99, downloadClock.elapsed() / (10 * settings.downloadSeconds)));
    return jsonObject({{"state", QLatin1String(names[int(state)])},
                       {"version", version},
                       {"last", last},
                       {"current", current},
                       {"progress", progress}});
}

bool Updater::check(QString *refusal)
{
    if (state == State::Ready) {
        *refusal = QStringLiteral("an update is ready to install");
        return false;
    }
    if (state != State::Idle) {
        *refusal = QStringLiteral("an update is already in progress");
        return false;
    }
    state = State::Checking;
    checkTimer.start(settings.checkSeconds * 1000);
    return true;
}

void Updater::finishCheck()
{
    state = State::Idle;
    if (settings.checkFails) {
        last = QStringLiteral("failed");
        daemonLog(QStringLiteral("update check failed: the update source cannot be reached"));
        return;
    }
    if (settings.offeredVersion.isEmpty() || !isNewer(settings.offeredVersion, current)) {
        last = QStringLiteral("up_to_date");
        daemonLog(QStringLiteral("update check: %1 is up to date").arg(current));
        return;
    }
    if (QFile::exists(settings.installSlot) && stagedVersion().isEmpty()) {
        last = QStringLiteral("blocked");
        daemonLog(QStringLiteral("update check: %1 is offered, but %2 already holds another update")
                      .arg(settings.offeredVersion, settings.installSlot));
        return;
    }
    last = QStringLiteral("found");
    state = State::Downloading;
    version = settings.offeredVersion;
    daemonLog(QStringLiteral("update check: downloading %1").arg(version));
    downloadClock.start();
    downloadTimer.start(settings.downloadSeconds * 1000);
}

void Updater::finishDownload()
{
    QString error;
    if (!save(settings.installSlot, stagedMarker + version.toUtf8() + '\n', &error)) {
        daemonLog(QStringLiteral("update %1 cannot be staged in %2: %3")
                      .arg(version, settings.installSlot, error));
        state = State::Idle;
        last = QStringLiteral("failed");
        version.clear();
        return;
    }
    state = State::Ready;
    setFlag(true);
    daemonLog(QStringLiteral("update %1 is ready to install").arg(version));
}

Updater::Installation Updater::install()
{
    if (state != State::Ready)
        return Installation::NothingReady;
    if (stagedVersion() != version) {
        daemonLog(
            QStringLiteral("update %1 is no longer in %2").arg(version, settings.installSlot));
        state = State::Idle;
        last = QStringLiteral("failed");
        version.clear();
        setFlag(false);
        return Installation::SlotLost;
    }
    // The version is recorded before the slot is cleared: cut short in
    // between, the next start finds the update installed and the slot stale.
    QString error;
    const QByteArray record = QJsonDocument(jsonObject({{"installed", version}})).toJson();
    if (!save(settings.installedFile, record, &error)) {
        daemonLog(QStringLiteral("cannot record the installed version in %1: %2")
                      .arg(settings.installedFile, error));
        return Installation::NotSaved;
    }
    QFile::remove(settings.installSlot);
    setFlag(false);
    daemonLog(QStringLiteral("installed %1 over %2").arg(version, current));
    current = version;
    version.clear();
    state = State::Idle;
    last = QStringLiteral("none");
    return Installation::Installed;
}

bool Updater::save(const QString &path, const QByteArray &bytes, QString *error)
{
    if (storage.canWrite())
        return replaceFile(path, bytes, error, storage.deviceFor(path));
    *error = QStringLiteral("the reader's storage is not mounted");
    return false;
}

QString Updater::stagedVersion() const
{
    QFile slot(settings.installSlot);
    if (!slot.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray line = slot.readLine(256).trimmed();
    if (!line.startsWith(stagedMarker))
        return QString();
    return QString::fromUtf8(line.mid(stagedMarker.size()));
}

void Updater::setFlag(bool present)
{
    if (!present) {
        QFile::remove(settings.readyFlag);
        return;
    }
    QFile flag(settings.readyFlag);
    if (!flag.open(QIODevice::WriteOnly))
        daemonLog(
            QStringLiteral("cannot create %1: %2").arg(settings.readyFlag, flag.errorString()));
}

} // namespace zorvid
