#pragma once

#include "state/pairedclient.h"

#include <QJsonArray>
#include <QString>
#include <QVector>

namespace zorvid {

class ReaderStorage;

// The paired devices, kept in a JSON file that is replaced atomically on
// every change: {"clients": [{"id": ..., "name": ..., "paired_at": ...,
// "token_sha256": ..., "used_at": ...}]}. A device whose browser has not
// shown its token for 90 days is no longer paired: its token opens nothing,
// and the next reading of the file leaves it out.
// A change is only made in memory once it is on disk, so the file and the
// list never disagree, and a crash at any moment leaves the old or the new
// file whole. Nothing is written while the reader's storage is away.
class ClientList {
public:
    ClientList(const QString &file, ReaderStorage &storage);

    // Reads the file; a missing file is an empty list. A file that is not a
    // client list is moved aside (FILE.unreadable-TIME) rather than
    // overwritten later, and the list starts empty; false only when it can
    // be neither read nor moved aside. A device whose id no request could
    // name (an earlier version took ids from names, which may hold broken
    // characters) is given an id derived from the old one, the same at
    // every start.
    bool load();
    const QVector<PairedClient> &clients() const { return list; }
    // The clients as GET /clients lists them: no token hashes.
    QJsonArray toJson() const;
    // The client whose browser holds TOKEN, or null: a token that was never
    // given, whose device has been disconnected or has gone unused too
    // long, opens nothing.
    const PairedClient *clientWithToken(const QByteArray &token) const;
    // Notes that the client with ID has just used its token; the file is
    // written at most once a day for it.
    void noteUse(QString id);

    // Both change the file first and the list only if that worked.
    bool add(const PairedClient &client);
    enum class Removal { Removed, NotFound, NotSaved };
    Removal remove(const QString &id);

    // A fresh id: 16 random hexadecimal digits, which any client can send
    // back unchanged.
    QString newId() const;

private:
    bool write(const QVector<PairedClient> &clients) const;

    QString file;
    ReaderStorage &storage;
    QVector<PairedClient> list;
};

} // namespace zorvid
