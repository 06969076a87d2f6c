// library/: the reader's books, read from Nickel's own database.

#pragma once

#include <QDateTime>
#include <QString>

namespace zorvid {

// One book of the reader's library, as Nickel's database describes it. Every
// text may be empty: the database may hold NULL anywhere.
struct Book {
    // Nickel's id of the book: a file:///mnt/onboard/... URL for a book the
    // owner copied on, an opaque id for one from the store.
    QString contentId;
    QString mimeType;
    QString title;
    QString author;
    QString series;
    QString seriesNumber;
    // 0 unread, 1 reading, 2 finished.
    int readStatus = 0;
    // 0 to 100.
    int percentRead = 0;
    // Invalid when never read.
    QDateTime lastRead;
    qint64 fileSize = 0;
    QString imageId;
    // A store book may be listed without being on the reader.
    bool onReader = true;
    // Title, author and series as a search compares them (searchTextOf()),
    // made once for each reading of the library.
    QString searchText;
};

} // namespace zorvid
