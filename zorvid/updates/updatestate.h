#pragma once

#include <QByteArray>
#include <QString>

namespace zorvid {

class UpdateManifest;

// What the updater keeps across its restarts, in update.json: the release
// whose archive is being downloaded (so that a download goes on only
// against the same manifest) and the release staged in the install slot (so
// that the slot's archive is known for ours). A file of an earlier zorvid,
// which recorded {"installed": VERSION}, reads as holding neither.
struct UpdateState {
    struct Release {
        QString version;
        qint64 size = 0;
        QByteArray sha256;

        bool isEmpty() const { return version.isEmpty(); }
        bool operator==(const Release &other) const
        {
            return version == other.version && size == other.size && sha256 == other.sha256;
        }
    };

    Release download;
    Release staged;

    // Missing or unreadable reads as empty.
    static UpdateState load(const QString &path);
    QByteArray toJson() const;
    static Release of(const UpdateManifest &manifest);
};

} // namespace zorvid
