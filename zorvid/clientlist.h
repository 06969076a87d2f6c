#pragma once

#include "pairedclient.h"

#include <QJsonArray>
#include <QString>
#include <QVector>

namespace zorvid {

// The paired devices, kept in a JSON file that is replaced atomically on
// every change: {"clients": [{"id": ..., "name": ..., "paired_at": ...}]}.
// A change is only made in memory once it is on disk, so the file and the
// list never disagree, and a crash at any moment leaves the old or the new
// file whole.
class ClientList {
public:
    explicit ClientList(const QString &file);

    // Reads the file; a missing file is an empty list. A file that is not a
    // client list is moved aside (FILE.unreadable-TIME) rather than
    // overwritten later, and the list starts empty; false only when it can
    // be neither read nor moved aside.
    bool load();
    const QVector<PairedClient> &clients() const { return list; }
    QJsonArray toJson() const;

    // Both change the file first and the list only if that worked.
    bool add(const PairedClient &client);
    enum class Removal { Removed, NotFound, NotSaved };
    Removal remove(const QString &id);

    // A fresh id for a device called NAME: the name, "/", and random hex.
    QString newId(const QString &name) const;

private:
    bool write(const QVector<PairedClient> &clients) const;

    QString file;
    QVector<PairedClient> list;
};

} // namespace zorvid
