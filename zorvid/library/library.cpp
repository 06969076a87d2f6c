#include "library/library.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <sqlite3.h>

#include <memory>

namespace zorvid {

namespace {

// How long a reading waits for Nickel to finish a write: the daemon's event
// loop, which also answers the reader's own panel, waits with it.
constexpr int busyTimeoutMs = 500;
// A reading that failed is not tried again on an unchanged database before
// this has passed, so a locked or broken one costs a wait now and then, not
// one per request.
constexpr qint64 retryAfterMs = 5000;

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

QString text(sqlite3_stmt *statement, int column)
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column)) : QString();
}

// ISO 8601 as Nickel writes it: "2024-01-15T14:30:00Z", with milliseconds,
// or with an offset; anything else is no date.
QDateTime isoDate(const QString &value)
{
    const QDateTime date = QDateTime::fromString(value, Qt::ISODate);
    return date.isValid() ? date.toUTC() : QDateTime();
}

} // namespace

Library::Library(const QString &database)
    : database(database)
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
    QByteArray state;
    QFile file(database);
    if (file.open(QIODevice::ReadOnly))
        state = file.read(28).mid(24);
    QFile index(database + QStringLiteral("-shm"));
    if (index.open(QIODevice::ReadOnly))
        state += index.read(48);
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        const QFileInfo info(database + suffix);
        state += ';' + QByteArray::number(info.exists() ? info.size() : -1) + ':' +
                 QByteArray::number(info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0);
    }
    return state;
}

bool Library::read(QVector<Book> *books)
{
    sqlite3 *opened = nullptr;
    const int openResult = sqlite3_open_v2(QFile::encodeName(database).constData(), &opened,
                                           SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    const Database handle(opened);
    if (openResult != SQLITE_OK) {
        lastError = QStringLiteral("cannot open %1: %2")
                        .arg(database, QString::fromUtf8(opened ? sqlite3_errmsg(opened)
                                                                : sqlite3_errstr(openResult)));
        return false;
    }
    sqlite3_busy_timeout(handle.get(), busyTimeoutMs);
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
        Book book;
        book.contentId = text(row, ContentId);
        if (book.contentId.isEmpty())
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
        books->append(book);
    }
    if (step != SQLITE_DONE)
        return failed("read the books of");
    return true;
}

} // namespace zorvid
