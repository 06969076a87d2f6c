#include "library/library.h"

#include "library/readonlydatabase.h"
#include "library/searchtext.h"

#include <QFile>
#include <QSet>
#include <QStringList>

#include <sqlite3.h>

#include <sys/stat.h>

namespace zorvid {

namespace {

// A reading that failed is not tried again on an unchanged database before
// this has passed, so a locked or broken one costs a wait now and then, not
// one per request.
constexpr qint64 retryAfterMs = 5000;
// A library larger than any reader's ends a reading with an error, as does
// one that takes too long ("content" may be an endless view), rather than
// holding the daemon.
constexpr int maxBooks = 250000;
// A text longer than any real title or name is cut (UTF-8 bytes read), and
// an id longer than any path is no book.
constexpr int maxTextBytes = 1024;
constexpr int maxIdBytes = 4096;

// The columns read, in the order of the statement.
enum Column {
    ContentId,
    MimeType,
    Title,
    Attribution,
    Series,
    SeriesNumber,
    ReadStatus,
    PercentRead,
    DateLastRead,
    FileSize,
    ImageId,
    IsDownloaded,
    ColumnCount
};
const char *const columnNames[ColumnCount] = {
    "ContentID",  "MimeType",       "Title",        "Attribution", "Series",  "SeriesNumber",
    "ReadStatus", "___PercentRead", "DateLastRead", "___FileSize", "ImageId", "IsDownloaded"};

} // namespace

Library::Library(const QString &database, qint64 readingLimitMs)
    : database(database)
    , readingLimitMs(readingLimitMs)
{
}

bool Library::refresh()
{
    const QByteArray now = fingerprint();
    if (!readFingerprint.isNull() && now == readFingerprint)
        return true;
    if (!lastError.isEmpty() && now == failedFingerprint && sinceFailure.isValid() &&
        !sinceFailure.hasExpired(retryAfterMs))
        return false;
    QVector<Book> books;
    if (!read(&books)) {
        failedFingerprint = now;
        sinceFailure.start();
        return false;
    }
    list = books;
    ++readings;
    readFingerprint = now;
    lastError.clear();
    return true;
}

const Book *Library::book(const QString &contentId)
{
    const auto find = [this, &contentId]() -> const Book * {
        for (const Book &book : list) {
            if (book.contentId == contentId)
                return &book;
        }
        return nullptr;
    };
    const Book *found = find();
    if (!found && refresh())
        found = find();
    return found;
}

QByteArray Library::fingerprint() const
{
    // The header's change counter, which every transaction that changes the
    // database moves on, and the journals, which hold changes not yet in it.
    // In WAL mode the counter stands still, and a log started again after a
    // checkpoint keeps its size; on a FAT storage its time moves in steps of
    // 2 s. So the WAL index's header, whose change counter every transaction
    // moves on, is part of it too.
    QByteArray state = ReadOnlyDatabase::peek(database, 24, 4) +
                       ReadOnlyDatabase::peek(database + QStringLiteral("-shm"), 0, 48);
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        struct stat status {};
        const bool exists = ::stat(QFile::encodeName(database + suffix).constData(), &status) == 0;
        state += ';' + QByteArray::number(exists ? qint64(status.st_size) : -1) + ':' +
                 QByteArray::number(exists ? qint64(status.st_mtim.tv_sec) * 1000 +
                                                 status.st_mtim.tv_nsec / 1000000
                                           : 0);
    }
    return state;
}

bool Library::read(QVector<Book> *books)
{
    ReadOnlyDatabase file(database, readingLimitMs);
    QSet<QString> present;
    if (!file.isOpen() || !file.columns("content", &present)) {
        lastError = file.error();
        return false;
    }
    if (!present.contains(QStringLiteral("contentid")) ||
        !present.contains(QStringLiteral("contenttype"))) {
        lastError = QStringLiteral("%1 holds no table of books").arg(database);
        return false;
    }

    // A missing column is selected as NULL, so that every value stands at its
    // own index whatever the table holds.
    QStringList selected;
    for (const char *name : columnNames) {
        const QString column = QString::fromLatin1(name);
        selected << (present.contains(column.toLower())
                         ? QLatin1Char('"') + column + QLatin1Char('"')
                         : QStringLiteral("NULL"));
    }
    const ReadOnlyDatabase::Statement rows =
        file.prepare("SELECT " + selected.join(QStringLiteral(", ")).toLatin1() +
                     " FROM content WHERE CAST(ContentType AS TEXT) = '6'");
    if (!rows) {
        lastError = file.error();
        return false;
    }
    const auto text = [](sqlite3_stmt *row, int column) {
        return ReadOnlyDatabase::text(row, column, maxTextBytes);
    };
    // Types, authors and series repeat from book to book: one copy of each
    // is shared by all, which keeps a large library small.
    QSet<QString> repeated;
    const auto shared = [&repeated](const QString &value) {
        return value.isEmpty() ? value : *repeated.insert(value);
    };
    int step;
    while ((step = sqlite3_step(rows.get())) == SQLITE_ROW) {
        sqlite3_stmt *row = rows.get();
        if (books->size() >= maxBooks) {
            lastError = QStringLiteral("%1 holds more than %2 books").arg(database).arg(maxBooks);
            return false;
        }
        Book book;
        book.contentId = ReadOnlyDatabase::text(row, ContentId, maxIdBytes + 1);
        if (book.contentId.isEmpty() || book.contentId.toUtf8().size() > maxIdBytes)
            continue;
        book.mimeType = shared(text(row, MimeType));
        // Shown and sorted without the blanks around them: a title of
        // spaces is no title.
        book.title = text(row, Title).trimmed();
        book.author = shared(text(row, Attribution).trimmed());
        book.series = shared(text(row, Series).trimmed());
        book.seriesNumber = shared(text(row, SeriesNumber).trimmed());
        book.readStatus = sqlite3_column_int(row, ReadStatus);
        book.percentRead = qBound(0, sqlite3_column_int(row, PercentRead), 100);
        book.lastRead = ReadOnlyDatabase::date(row, DateLastRead);
        book.fileSize = qMax<qint64>(0, sqlite3_column_int64(row, FileSize));
        book.imageId = text(row, ImageId);
        book.onReader = sqlite3_column_type(row, IsDownloaded) == SQLITE_NULL ||
                        sqlite3_column_int(row, IsDownloaded) != 0;
        book.searchText = searchTextOf(book);
        books->append(book);
    }
    if (step != SQLITE_DONE) {
        file.failed("read the books of");
        lastError = file.error();
        return false;
    }
    return true;
}

} // namespace zorvid
