#pragma once

#include "library/book.h"

#include <QElapsedTimer>
#include <QString>
#include <QVector>

namespace zorvid {

// The books of the reader's library, read from Nickel's own database, which
// Nickel writes while it runs: opened read-only for each reading and closed
// at once, so that no lock is held while Nickel writes, waiting a moment
// when Nickel holds one. The columns are looked up by name, since firmware
// versions differ in which they have and where; a column that is missing
// reads as empty. The books are read again only when the database's files
// have changed.
class Library {
public:
    explicit Library(const QString &database);

    // Reads the books again if the database has changed since the last
    // reading. False, with the reason in error(), when it cannot be read:
    // the books of the last reading stay. After a failure, an unchanged
    // database is tried again only after a few seconds.
    bool refresh();
    // The book with CONTENT_ID: from the last reading, or, when that has no
    // such book, from a new one; null when there is none.
    const Book *book(const QString &contentId);
    const QVector<Book> &books() const { return list; }
    // Moves on with every reading: whenever the database has changed.
    int generation() const { return readings; }
    QString error() const { return lastError; }

private:
    // What the database's files look like now (size and time of change of
    // the file and of its journals).
    QByteArray fingerprint() const;
    bool read(QVector<Book> *books);

    QString database;
    QByteArray readFingerprint;
    QByteArray failedFingerprint;
    QElapsedTimer sinceFailure;
    QVector<Book> list;
    int readings = 0;
    QString lastError;
};

} // namespace zorvid
