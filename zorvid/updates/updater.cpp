// updates/: the add-on's updates, from the signed feed to an archive ready for the next start.

#include "updates/updater.h"

#include "http/jsonobject.h"
#include "process/daemonlog.h"
#include "state/atomicfile.h"
#include "state/readerstorage.h"
#include "updates/filehash.h"
#include "updates/httpsfetch.h"
#include "updates/versions.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/statvfs.h>

namespace zorvid {

namespace {

// Room a download leaves free on the storage, for Nickel and the books.
constexpr qint64 storageMargin = 8 * 1024 * 1024;
// Network failures of a download within one check before it gives up (the
// next check goes on from there).
constexpr int maxInterruptions = 3;

// Free bytes of the file system holding PATH; -1 when it cannot be told
// (some FUSE file systems report no sizes at all).
qint64 freeBytes(const QString &path)
{
    struct statvfs info;
    if (::statvfs(QFile::encodeName(path).constData(), &info) != 0 || info.f_blocks == 0)
        return -1;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

} // namespace

Updater::Updater(const Settings &settings, ReaderStorage &storage, QObject *parent)
    : QObject(parent)
    , settings(settings)
    , storage(storage)
{
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &Updater::download);
}

Updater::~Updater() = default;

void Updater::start()
{
    suspend();
    state = State::Idle;
    removeLeftovers(settings.stateFile);
    kept = UpdateState::load(settings.stateFile);
    UpdateState next = kept;

    if (!kept.staged.isEmpty()) {
        if (compareVersions(kept.staged.version, builtVersion()) <= 0) {
            // The firmware has installed it (and removed the slot's file):
            // the release running is that one or a later one.
            daemonLog(QStringLiteral("update %1 is installed").arg(kept.staged.version));
            next.staged = UpdateState::Release();
        } else if (slotHolds(kept.staged)) {
            state = State::Ready;
            manifest.version = kept.staged.version;
            daemonLog(QStringLiteral("update %1 is staged and ready to install")
                          .arg(kept.staged.version));
        } else {
            daemonLog(QStringLiteral("update %1 is no longer in %2")
                          .arg(kept.staged.version, settings.installSlot));
            next.staged = UpdateState::Release();
        }
    }
    if (kept.download.isEmpty() || compareVersions(kept.download.version, builtVersion()) <= 0 ||
        QFileInfo(settings.partialFile).size() > kept.download.size) {
        next.download = UpdateState::Release();
        QFile::remove(settings.partialFile);
    }
    // Run as the storage's state is read, when it is known to be there.
    if (!(next.staged == kept.staged && next.download == kept.download)) {
        QString error;
        if (!writeState(next, &error))
            daemonLog(QStringLiteral("cannot update %1: %2").arg(settings.stateFile, error));
    }
    setFlag(state == State::Ready);
}

QJsonObject Updater::status() const
{
    static const char *const names[] = {"idle", "checking", "downloading", "ready"};
    int progress = 0;
    if (state == State::Ready)
        progress = 100;
    else if (state == State::Downloading && manifest.size > 0)
        progress =
            int(qMin<qint64>(99, (fetch ? fetch->held() : QFileInfo(settings.partialFile).size()) *
                                     100 / manifest.size));
    const bool named = state == State::Downloading || state == State::Ready;
    return jsonObject({{"state", QLatin1String(names[int(state)])},
                       {"version", named ? manifest.version : QString()},
                       {"last", last},
                       {"current", builtVersion()},
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
    checkClock.start();
    interruptions = 0;
    // The answer to the request goes out first; the check follows.
    QTimer::singleShot(0, this, &Updater::fetchManifest);
    return true;
}

void Updater::fetchManifest()
{
    if (state != State::Checking)
        return;
    if (settings.feed.isEmpty()) {
        fail(QStringLiteral("no update feed is built into this zorvid"), false);
        return;
    }
    HttpsFetch::Request request = fetchRequest(QUrl(settings.feed.manifestUrl));
    request.maxBytes = UpdateManifest::maxManifestBytes;
    startFetch(request, &Updater::manifestFetched);
}

HttpsFetch::Request Updater::fetchRequest(const QUrl &url) const
{
    HttpsFetch::Request request;
    request.url = url;
    request.rootsPem = settings.feed.rootsPem;
    request.waitMs = settings.waitMs;
    // Whatever the check has used up already is gone from the whole bound.
    request.wholeMs = int(qMax<qint64>(1, settings.wholeMs - checkClock.elapsed()));
    return request;
}

void Updater::startFetch(const HttpsFetch::Request &request, void (Updater::*fetched)())
{
    fetch.reset(new HttpsFetch(request));
    connect(fetch.get(), &QThread::finished, this, fetched);
    fetch->start();
}

void Updater::manifestFetched()
{
    // A fetch given up (the storage went) may still have its end queued.
    if (!fetch || sender() != fetch.get())
        return;
    const HttpsFetch::Result result = fetch->result();
    fetch.reset();
    if (result.outcome != HttpsFetch::Outcome::Done) {
        fail(QStringLiteral("the manifest cannot be fetched: %1").arg(result.error), false);
        return;
    }
    UpdateManifest offered;
    QString error;
    if (!offered.read(result.body, settings.feed.publicKey, &error)) {
        fail(error, false);
        return;
    }
    const int order = compareVersions(offered.version, builtVersion());
    if (order == 0) {
        state = State::Idle;
        last = QStringLiteral("up_to_date");
        daemonLog(QStringLiteral("update check: %1 is up to date").arg(builtVersion()));
        return;
    }
    // A feed never goes back: an older release is a replayed manifest.
    if (order < 0) {
        fail(QStringLiteral("the feed offers %1, older than the running %2 (a replayed manifest)")
                 .arg(offered.version, builtVersion()),
             false);
        return;
    }
    if (compareVersions(builtVersion(), offered.minVersion) < 0) {
        fail(QStringLiteral("%1 updates only from %2 on, this is %3")
                 .arg(offered.version, offered.minVersion, builtVersion()),
             false);
        return;
    }
    if (QFile::exists(settings.installSlot) && !slotHolds(UpdateState::of(offered))) {
        state = State::Idle;
        last = QStringLiteral("blocked");
        daemonLog(QStringLiteral("update check: %1 is offered, but %2 already holds another update")
                      .arg(offered.version, settings.installSlot));
        return;
    }
    manifest = offered;
    last = QStringLiteral("found");
    daemonLog(QStringLiteral("update check: %1 is offered").arg(manifest.version));
    if (QFile::exists(settings.installSlot)) {
        // Staged by an earlier run that lost its record.
        if (recordStaged())
            becomeReady();
        return;
    }
    if (!(kept.download == UpdateState::of(manifest))) {
        // Another release than the one begun: begin again.
        QFile::remove(settings.partialFile);
        UpdateState next = kept;
        next.download = UpdateState::of(manifest);
        if (!saveState(next, &error)) {
            fail(QStringLiteral("cannot record the download in %1: %2")
                     .arg(settings.stateFile, error),
                 true);
            return;
        }
    }
    state = State::Downloading;
    download();
}

void Updater::download()
{
    if (state != State::Downloading)
        return;
    const qint64 held = qMax<qint64>(0, QFileInfo(settings.partialFile).size());
    const qint64 room = freeBytes(settings.storagePath);
    if (room >= 0 && room < manifest.size - held + storageMargin) {
        fail(QStringLiteral("the reader's storage has %1 bytes free; %2 needs %3 more and "
                            "leaves %4 free")
                 .arg(room)
                 .arg(manifest.version)
                 .arg(manifest.size - held)
                 .arg(storageMargin),
             true);
        return;
    }
    if (held == manifest.size) {
        // All there already: only the hash is left to check.
        stage(fileSha256(settings.partialFile));
        return;
    }
    if (held > 0)
        daemonLog(QStringLiteral("update %1: going on from byte %2 of %3")
                      .arg(manifest.version)
                      .arg(held)
                      .arg(manifest.size));
    else
        daemonLog(QStringLiteral("update %1: downloading %2 bytes from %3")
                      .arg(manifest.version)
                      .arg(manifest.size)
                      .arg(manifest.archive.toDisplayString()));
    HttpsFetch::Request request = fetchRequest(manifest.archive);
    request.maxBytes = manifest.size;
    request.file = settings.partialFile;
    request.offset = held;
    startFetch(request, &Updater::downloadFetched);
}

void Updater::downloadFetched()
{
    if (!fetch || sender() != fetch.get())
        return;
    const HttpsFetch::Result result = fetch->result();
    const qint64 held = fetch->held();
    fetch.reset();
    switch (result.outcome) {
    case HttpsFetch::Outcome::Done:
        break;
    case HttpsFetch::Outcome::Cancelled:
        return;
    case HttpsFetch::Outcome::Interrupted:
        if (++interruptions < maxInterruptions && checkClock.elapsed() < settings.wholeMs) {
            daemonLog(QStringLiteral("update %1: %2 after %3 of %4 bytes; trying again")
                          .arg(manifest.version, result.error)
                          .arg(held)
                          .arg(manifest.size));
            retryTimer.start(1000 * interruptions);
            return;
        }
        fail(QStringLiteral("the download of %1 stopped at byte %2 of %3: %4; the next check "
                            "goes on from there")
                 .arg(manifest.version)
                 .arg(held)
                 .arg(manifest.size)
                 .arg(result.error),
             false);
        return;
    case HttpsFetch::Outcome::Refused:
    case HttpsFetch::Outcome::StorageFailed:
        fail(QStringLiteral("the download of %1 failed: %2").arg(manifest.version, result.error),
             true);
        return;
    }
    if (held != manifest.size) {
        fail(QStringLiteral("the archive of %1 has %2 bytes, the manifest says %3")
                 .arg(manifest.version)
                 .arg(held)
                 .arg(manifest.size),
             true);
        return;
    }
    stage(result.sha256);
}

void Updater::stage(const QByteArray &sha256)
{
    if (sha256 != manifest.sha256) {
        fail(QStringLiteral("the archive of %1 does not have the manifest's SHA-256")
                 .arg(manifest.version),
             true);
        return;
    }
    if (QFile::exists(settings.installSlot)) {
        // Put there while this one downloaded; the download waits for it.
        state = State::Idle;
        last = QStringLiteral("blocked");
        daemonLog(QStringLiteral("update %1 is downloaded, but %2 now holds another update")
                      .arg(manifest.version, settings.installSlot));
        return;
    }
    // The slot's archive is recorded as ours before it is there: cut short
    // in between, the next start finds the slot empty and forgets it.
    if (!recordStaged())
        return;
    if (std::rename(QFile::encodeName(settings.partialFile).constData(),
                    QFile::encodeName(settings.installSlot).constData()) != 0) {
        fail(QStringLiteral("%1 cannot become %2: %3")
                 .arg(settings.partialFile, settings.installSlot,
                      QString::fromLocal8Bit(std::strerror(errno))),
             true);
        return;
    }
    becomeReady();
}

bool Updater::recordStaged()
{
    UpdateState next = kept;
    next.staged = UpdateState::of(manifest);
    next.download = UpdateState::Release();
    QString error;
    if (saveState(next, &error))
        return true;
    fail(QStringLiteral("cannot record the update in %1: %2").arg(settings.stateFile, error), true);
    return false;
}

void Updater::becomeReady()
{
    state = State::Ready;
    setFlag(true);
    daemonLog(QStringLiteral("update %1 is ready to install").arg(manifest.version));
}

void Updater::fail(const QString &reason, bool discard)
{
    state = State::Idle;
    last = QStringLiteral("failed");
    daemonLog(QStringLiteral("update check failed: %1").arg(reason));
    if (discard)
        discardDownload();
}

void Updater::discardDownload()
{
    QFile::remove(settings.partialFile);
    if (kept.download.isEmpty())
        return;
    UpdateState next = kept;
    next.download = UpdateState::Release();
    QString error;
    if (!saveState(next, &error))
        daemonLog(QStringLiteral("cannot update %1: %2").arg(settings.stateFile, error));
}

Updater::Installation Updater::install()
{
    if (state != State::Ready)
        return Installation::NothingReady;
    if (!slotHolds(kept.staged)) {
        daemonLog(QStringLiteral("update %1 is no longer in %2")
                      .arg(kept.staged.version, settings.installSlot));
        state = State::Idle;
        last = QStringLiteral("failed");
        setFlag(false);
        return Installation::SlotLost;
    }
    daemonLog(QStringLiteral("restarting to install %1 over %2")
                  .arg(kept.staged.version, builtVersion()));
    return Installation::Restarting;
}

void Updater::suspend()
{
    retryTimer.stop();
    if (state == State::Checking || state == State::Downloading) {
        state = State::Idle;
        last = QStringLiteral("failed");
        daemonLog(QStringLiteral("update check stopped: the reader's storage went away"));
    }
    if (!fetch)
        return;
    // Not waited for: it ends within a fifth of a second (or once a name
    // lookup returns) and then deletes itself.
    HttpsFetch *leaving = fetch.release();
    leaving->disconnect(this);
    leaving->cancel();
    connect(leaving, &QThread::finished, leaving, &QObject::deleteLater);
    if (leaving->isFinished())
        leaving->deleteLater();
}

bool Updater::slotHolds(const UpdateState::Release &release) const
{
    return !release.isEmpty() && QFileInfo(settings.installSlot).size() == release.size &&
           fileSha256(settings.installSlot) == release.sha256;
}

bool Updater::saveState(const UpdateState &next, QString *error)
{
    if (storage.canWrite())
        return writeState(next, error);
    *error = QStringLiteral("the reader's storage is not mounted");
    return false;
}

bool Updater::writeState(const UpdateState &next, QString *error)
{
    if (!replaceFile(settings.stateFile, next.toJson(), error,
                     storage.deviceFor(settings.stateFile)))
        return false;
    kept = next;
    return true;
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
