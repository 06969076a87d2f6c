#pragma once

#include "updates/feedtrust.h"
#include "updates/httpsfetch.h"
#include "updates/updatemanifest.h"
#include "updates/updatestate.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace zorvid {

class ReaderStorage;

// The add-on's updates. A check fetches the feed's signed manifest over
// HTTPS; a newer release than the one running is downloaded, resumably, to
// a file of the state folder that Nickel does not take for a book, checked
// against the manifest's size and SHA-256, and renamed into the install
// slot, where the reader's firmware unpacks it at the next start; then the
// ready flag is created. Whatever is refused leaves nothing on the storage;
// a download cut by the network is kept, and the next check goes on from
// where it stopped, as long as the manifest is the same.
class Updater : public QObject {
public:
    struct Settings {
        FeedTrust feed;
        // The reader's storage, whose free room a download must leave.
        QString storagePath;
        QString installSlot;
        QString readyFlag;
        // What is kept across restarts (UpdateState), and the archive
        // while it downloads.
        QString stateFile;
        QString partialFile;
        // The longest wait for the feed, and for a whole check and download.
        int waitMs = 30000;
        int wholeMs = 30 * 60 * 1000;
    };

    enum class Installation { Restarting, NothingReady, SlotLost };

    Updater(const Settings &settings, ReaderStorage &storage, QObject *parent = nullptr);
    ~Updater() override;

    // Reads what an earlier run left: an update staged in the slot (ready
    // again while it is newer than the running version, forgotten once it
    // is installed) and a download to go on with. Makes the flag agree. Run
    // again when the reader's storage comes back.
    void start();
    // The body of GET "/update": "state" ("idle", "checking", "downloading",
    // "ready"), "version", "last" ("none", "up_to_date", "found", "blocked",
    // "failed"), "current" (the running version) and "progress" (percent of
    // the download).
    QJsonObject status() const;
    // Starts a check; false with the reason while busy or ready.
    bool check(QString *refusal);
    // Whether the ready update is still in the slot, for the restart that
    // installs it.
    Installation install();
    // Stops a download at once, keeping what it received: the storage is
    // going away.
    void suspend();

private:
    enum class State { Idle, Checking, Downloading, Ready };

    void fetchManifest();
    // A fetch of URL within this check's bounds.
    HttpsFetch::Request fetchRequest(const QUrl &url) const;
    void startFetch(const HttpsFetch::Request &request, void (Updater::*fetched)());
    void manifestFetched();
    void download();
    void downloadFetched();
    // Moves the downloaded archive into the slot once its hash is the
    // manifest's.
    void stage(const QByteArray &sha256);
    bool recordStaged();
    void becomeReady();
    // Ends the check: "failed", the reason logged, and with DISCARD nothing
    // of the download kept.
    void fail(const QString &reason, bool discard);
    void discardDownload();
    // Whether the slot holds the archive of RELEASE.
    bool slotHolds(const UpdateState::Release &release) const;
    bool saveState(const UpdateState &next, QString *error);
    // The same without asking the storage whether it is there.
    bool writeState(const UpdateState &next, QString *error);
    void setFlag(bool present);

    Settings settings;
    ReaderStorage &storage;
    State state = State::Idle;
    QString last = QStringLiteral("none");
    UpdateState kept;
    UpdateManifest manifest;
    std::unique_ptr<HttpsFetch> fetch;
    // Network failures a download has met in this check.
    int interruptions = 0;
    QTimer retryTimer;
    // Since the check began, for its bound.
    QElapsedTimer checkClock;
};

} // namespace zorvid
