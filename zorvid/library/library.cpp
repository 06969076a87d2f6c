#include "library/library.h"

#include "library/searchtext.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <QUrl>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvid {

namespace {

// How long a reading waits for Nickel to finish a write: the daemon's event
// loop, which also answers the reader's own panel, waits with it.
constexpr int busyTimeoutMs = 500;
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

struct CloseDatabase {
    void operator()(sqlite3 *database) const { sqlite3_close_v2(database); }
};
struct FinishStatement {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;
using Statement = std::unique_ptr<sqlite3_stmt, FinishStatement>;

// A column's text, at most LIMIT bytes of it, cut between characters.
QString text(sqlite3_stmt *statement, int column, int limit = maxTextBytes)
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    if (!bytes)
        return QString();
    int length = sqlite3_column_bytes(statement, column);
    if (length > limit) {
        length = limit;
        // Back to the start of the character that the cut would split.
        while (length > 0 && (uchar(bytes[length]) & 0xc0) == 0x80)
            --length;
    }
    return QString::fromUtf8(bytes, length);
}

// Whether PATH is a regular file; false for one that is missing. Anything
// else standing in its place (a FIFO, a device) would hold a reading.
bool isRegularFile(const QString &path, bool *exists)
{
    struct stat status {};
    *exists = ::stat(QFile::encodeName(path).constData(), &status) == 0;
    return *exists && S_ISREG(status.st_mode);
}

// Up to LENGTH bytes from OFFSET of the regular file PATH, opened so that
// nothing else could hold the call.
QByteArray head(const QString &path, int offset, int length)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    QByteArray bytes(length, Qt::Uninitialized);
    struct stat status {};
    const ssize_t got = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
                            ? ::pread(fd, bytes.data(), size_t(length), offset)
                            : -1;
    ::close(fd);
    return got > 0 ? bytes.left(int(got)) : QByteArray();
}

// ISO 8601 as Nickel writes it: "2024-01-15T14:30:00Z", with milliseconds,
// or with an offset; anything else is no date.
QDateTime isoDate(const QString &value)
{
    const QDateTime date = QDateTime::fromString(value, Qt::ISODate);
    return date.isValid() ? date.toUTC() : QDateTime();
}

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
    QByteArray state = head(database, 24, 4) + head(database + QStringLiteral("-shm"), 0, 48);
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
    // Only regular files are opened: the database and its journals.
    bool walPresent = false;
    bool indexPresent = false;
    bool exists = false;
    if (!isRegularFile(database, &exists) ||
        !(isRegularFile(database + QStringLiteral("-wal"), &walPresent) || !walPresent) ||
        !(isRegularFile(database + QStringLiteral("-shm"), &indexPresent) || !indexPresent) ||
        !(isRegularFile(database + QStringLiteral("-journal"), &exists) || !exists)) {
        lastError =
            QStringLiteral("%1 or one of its journals is missing or no regular file").arg(database);
        return false;
    }
    // A database in WAL mode (its header's versions are 2) is read through
    // its log and the log's index, which a reader makes beside it when they
    // are missing, and which would then stay on the storage. Both are there
    // while Nickel has it open; without them nobody writes it, and it is
    // read as it lies, making nothing.
    const bool walMode = head(database, 18, 2) == QByteArray("\x02\x02", 2);
    QByteArray uri = QUrl::fromLocalFile(database).toEncoded();
    if (walMode && (!walPresent || !indexPresent))
        uri += "?immutable=1";
    sqlite3 *opened = nullptr;
    const int openResult =
        sqlite3_open_v2(uri.constData(), &opened,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr);
    const Database handle(opened);
    if (openResult != SQLITE_OK) {
        lastError = QStringLiteral("cannot open %1: %2")
                        .arg(database, QString::fromUtf8(opened ? sqlite3_errmsg(opened)
                                                                : sqlite3_errstr(openResult)));
        return false;
    }
    sqlite3_busy_timeout(handle.get(), busyTimeoutMs);
    struct Deadline {
        QElapsedTimer clock;
        qint64 limitMs;
    } deadline{QElapsedTimer(), readingLimitMs};
    deadline.clock.start();
    sqlite3_progress_handler(
        handle.get(), 1000,
        [](void *context) {
            const auto *deadline = static_cast<Deadline *>(context);
            return int(deadline->clock.hasExpired(deadline->limitMs));
        },
        &deadline);
    const auto failed = [&](const char *step) {
        lastError = QStringLiteral("cannot %1 %2: %3")
                        .arg(QLatin1String(step), database,
                             QString::fromUtf8(sqlite3_errmsg(handle.get())));
        return false;
    };

    // Which of the columns this firmware's table has.
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare_v2(handle.get(), "PRAGMA table_info(content)", -1, &prepared, nullptr) !=
        SQLITE_OK)
        return failed("read the columns of");
    Statement columns(prepared);
    QHash<QString, bool> present;
    int step;
    while ((step = sqlite3_step(columns.get())) == SQLITE_ROW)
        present.insert(text(columns.get(), 1).toLower(), true);
    if (step != SQLITE_DONE)
        return failed("read the columns of");
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
    const QByteArray query = "SELECT " + selected.join(QStringLiteral(", ")).toLatin1() +
                             " FROM content WHERE CAST(ContentType AS TEXT) = '6'";
    // One pass over the table needs no cache of pages: a small one keeps a
    // reading of a large library from growing the daemon for good.
    sqlite3_exec(handle.get(), "PRAGMA cache_size = -256", nullptr, nullptr, nullptr);
    if (sqlite3_prepare_v2(handle.get(), query.constData(), -1, &prepared, nullptr) != SQLITE_OK)
        return failed("read the books of");
    Statement rows(prepared);
    while ((step = sqlite3_step(rows.get())) == SQLITE_ROW) {
        sqlite3_stmt *row = rows.get();
        if (books->size() >= maxBooks) {
            lastError = QStringLiteral("%1 holds more than %2 books").arg(database).arg(maxBooks);
            return false;
        }
        Book book;
        book.contentId = text(row, ContentId, maxIdBytes + 1);
        if (book.contentId.isEmpty() || book.contentId.toUtf8().size() > maxIdBytes)
            continue;
        book.mimeType = text(row, MimeType);
        // Shown and sorted without the blanks around them: a title of
        // spaces is no title.
        book.title = text(row, Title).trimmed();
        book.author = text(row, Attribution).trimmed();
        book.series = text(row, Series).trimmed();
        book.seriesNumber = text(row, SeriesNumber).trimmed();
        book.readStatus = sqlite3_column_int(row, ReadStatus);
        book.percentRead = qBound(0, sqlite3_column_int(row, PercentRead), 100);
        book.lastRead = isoDate(text(row, DateLastRead));
        book.fileSize = qMax<qint64>(0, sqlite3_column_int64(row, FileSize));
        book.imageId = text(row, ImageId);
        book.onReader = sqlite3_column_type(row, IsDownloaded) == SQLITE_NULL ||
                        sqlite3_column_int(row, IsDownloaded) != 0;
        book.searchText = searchTextOf(book);
        books->append(book);
    }
    if (step == SQLITE_INTERRUPT) {
        lastError =
            QStringLiteral("reading %1 took longer than %2 ms").arg(database).arg(readingLimitMs);
        return false;
    }
    if (step != SQLITE_DONE)
        return failed("read the books of");
    return true;
}

} // namespace zorvid
