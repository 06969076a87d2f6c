#pragma once

#include "library/highlight.h"

#include <QHash>
#include <QString>

namespace zorvid {

class ReadOnlyDatabase;

// The highlights and notes of the reader's books, read from the Bookmark
// table of Nickel's database. Nickel writes it while it runs: each reading
// opens the file read-only and closes it at once. Columns are looked up by
// name, a missing one reading as empty, so that an older firmware's table,
// or none at all, gives fewer highlights or none rather than an error.
// Hidden rows (deleted, waiting to be synced) and bookmarks without text or
// note are left out. What a database may hold is bounded: each text, the
// rows per reading and the bytes of text read, so that a hostile file
// cannot fill the daemon's memory.
class Highlights {
public:
    // In characters; a longer text is cut and ends in "…".
    static constexpr int textLimit = 8 * 1024;
    static constexpr int noteLimit = 16 * 1024;
    static constexpr int titleLimit = 1024;
    static constexpr int perBook = 10000;
    static constexpr int perExport = 50000;
    // Bytes of text a reading takes in at most.
    static constexpr int textBudget = 8 * 1024 * 1024;

    explicit Highlights(const QString &database);

    // The highlights of the book with ContentID BOOK in reading order (the
    // part's VolumeIndex, then ChapterProgress, then StartOffset); with a
    // null BOOK, those of every book, book after book by title. False, with
    // the reason in error(), when the database cannot be read.
    bool read(const QString &book, HighlightList *list);
    // How many highlights each book has, by ContentID (at most perBook),
    // for up to 20,000 books; books without any are not in it.
    bool count(QHash<QString, int> *counts);
    QString error() const { return lastError; }

private:
    struct Query;
    // Which columns of Bookmark and content this database has; false when
    // it cannot be opened or read. Without a Bookmark table that can be
    // tied to books, QUERY says so and there is nothing to read.
    bool prepare(ReadOnlyDatabase &database, Query *query);

    QString database;
    QString lastError;
};

} // namespace zorvid
