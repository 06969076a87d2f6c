#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

namespace zorvid {

class ReaderStorage;

// The add-on's updates in the stand-in world. A check takes a while and then
// finds the version offered on the command line, or nothing, or fails; a
// newer version is downloaded for a while and then staged in the install
// slot (the file the reader unpacks at its next start), and the ready flag
// is created. Installing records the new version as the installed one and
// clears the slot and the flag, as the reader's restart would.
class Updater : public QObject {
public:
    struct Settings {
        // Installed until an update has been installed.
        QString factoryVersion;
        // Offered by the update source; empty: nothing offered.
        QString offeredVersion;
        bool checkFails = false;
        int checkSeconds = 1;
        int downloadSeconds = 3;
        QString installSlot;
        QString readyFlag;
        // Where the installed version is kept across restarts.
        QString installedFile;
    };

    enum class Installation { Installed, NothingReady, SlotLost, NotSaved };

    Updater(const Settings &settings, ReaderStorage &storage, QObject *parent = nullptr);

    // Reads the installed version and an update already staged by an
    // earlier run (which is ready again), and makes the flag agree. Run
    // again when the reader's storage comes back.
    void start();
    // The body of GET "/update": "state" ("idle", "checking", "downloading",
    // "ready"), "version", "last" ("none", "up_to_date", "found", "blocked",
    // "failed"), "current" and "progress" (percent of the download).
    QJsonObject status() const;
    // Starts a check; false with the reason while busy or ready.
    bool check(QString *refusal);
    // Installs the ready update.
    Installation install();
    QString installedVersion() const { return current; }

private:
    enum class State { Idle, Checking, Downloading, Ready };

    void finishCheck();
    void finishDownload();
    // The version of the update staged by this daemon; empty when the slot
    // is empty or holds someone else's file.
    QString stagedVersion() const;
    void setFlag(bool present);
    bool save(const QString &path, const QByteArray &bytes, QString *error);

    Settings settings;
    ReaderStorage &storage;
    State state = State::Idle;
    QString version;
    QString last = QStringLiteral("none");
    QString current;
    QTimer checkTimer;
    QTimer downloadTimer;
    QElapsedTimer downloadClock;
};

} // namespace zorvid
