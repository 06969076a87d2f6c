#include "librarysync.h"

#include "epubmetadata.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

#include <memory>

namespace {

// The book files Nickel imports, by the end of their names (lower case), the
// longer of two that end alike first, and the type it files them under.
const struct {
    const char *suffix;
    const char *mimeType;
    bool epub;
} bookTypes[] = {
    {".kepub.epub", "application/x-kobo-epub+zip", true},
    {".epub", "application/epub+zip", true},
    {".pdf", "application/pdf", false},
    {".cbz", "application/x-cbz", false},
    {".cbr", "application/x-cbr", false},
    {".txt", "text/plain", false},
    {".rtf", "application/rtf", false},
    {".mobi", "application/x-mobipocket-ebook", false},
};

// The table as Nickel creates it: the columns a reader of the library looks
// at, and some of the many others, with their defaults.
const char createContent[] =
    "CREATE TABLE IF NOT EXISTS content ("
    "ContentID TEXT NOT NULL, ContentType TEXT NOT NULL, MimeType TEXT NOT NULL, BookID TEXT, "
    "BookTitle TEXT, ImageId TEXT, Title TEXT COLLATE NOCASE, Attribution TEXT COLLATE NOCASE, "
    "Description TEXT, DateCreated TEXT, ShortCoverKey TEXT, adobe_location TEXT, Publisher TEXT, "
    "IsEncrypted BOOL, DateLastRead TEXT, FirstTimeReading BOOL DEFAULT true, "
    "ChapterIDBookmarked TEXT, ParagraphBookmarked INTEGER, BookmarkWordOffset INTEGER, "
    "NumShortcovers INTEGER, VolumeIndex INTEGER DEFAULT -1, ___NumPages INTEGER DEFAULT -1, "
    "ReadStatus INTEGER DEFAULT 0, ___SyncTime TEXT, ___UserID TEXT NOT NULL, "
    "PublicationId TEXT, ___FileOffset INTEGER, ___FileSize INTEGER, ___PercentRead INTEGER, "
    "___ExpirationStatus INTEGER, FavouritesIndex NUMERIC DEFAULT -1, "
    "Accessibility INTEGER DEFAULT 1, ContentURL TEXT, Language TEXT, "
    "BookshelfTags TEXT, IsDownloaded BIT NOT NULL DEFAULT 1, Series TEXT, SeriesNumber TEXT, "
    "WordCount INTEGER DEFAULT -1, Subtitle TEXT, ISBN TEXT, DateModified TEXT, "
    "PRIMARY KEY (ContentID))";

struct FinishStatement {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinishStatement>;

struct CloseDatabase {
    void operator()(sqlite3 *database) const { sqlite3_close_v2(database); }
};

Statement prepare(sqlite3 *database, const QByteArray &sql)
{
    sqlite3_stmt *prepared = nullptr;
    sqlite3_prepare_v2(database, sql.constData(), -1, &prepared, nullptr);
    return Statement(prepared);
}

void bindText(sqlite3_stmt *statement, int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt *statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                             sqlite3_column_bytes(statement, column));
}

bool execute(sqlite3 *database, const char *sql)
{
    return sqlite3_exec(database, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A value of a new row: a text (NULL when it is a null QString) or a number.
struct ColumnValue {
    ColumnValue(const char *column, const QString &text)
        : column(column)
        , text(text)
    {
    }
    ColumnValue(const char *column, qint64 number)
        : column(column)
        , number(number)
        , isNumber(true)
    {
    }

    void bind(sqlite3_stmt *statement, int index) const
    {
        if (isNumber)
            sqlite3_bind_int64(statement, index, number);
        else if (text.isNull())
            sqlite3_bind_null(statement, index);
        else
            bindText(statement, index, text);
    }

    const char *column;
    QString text;
    qint64 number = 0;
    bool isNumber = false;
};

// Nickel's key of the covers it renders of a book: its ContentID with what
// cannot stand in a file name replaced.
QString imageIdOf(QString contentId)
{
    for (const QChar c : {QLatin1Char('/'), QLatin1Char(':'), QLatin1Char('.'), QLatin1Char(' ')})
        contentId.replace(c, QLatin1Char('_'));
    return contentId;
}

} // namespace

const char LibrarySync::contentIdPrefix[] = "file:///mnt/onboard/";

LibrarySync::LibrarySync(const QString &storage)
    : storage(QDir::cleanPath(storage))
{
}

bool LibrarySync::run()
{
    importedBooks = 0;
    removedBooks = 0;
    titles.clear();
    lastError.clear();
    if (!QFileInfo(storage).isDir()) {
        lastError = QStringLiteral("the storage %1 is no folder").arg(storage);
        return false;
    }
    const QString folder = storage + QStringLiteral("/.kobo");
    const QString path = folder + QStringLiteral("/KoboReader.sqlite");
    if (!QDir().mkpath(folder)) {
        lastError = QStringLiteral("cannot make %1").arg(folder);
        return false;
    }
    sqlite3 *opened = nullptr;
    const int result = sqlite3_open_v2(QFile::encodeName(path).constData(), &opened,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const std::unique_ptr<sqlite3, CloseDatabase> database(opened);
    if (result != SQLITE_OK) {
        lastError = QStringLiteral("cannot open %1: %2")
                        .arg(path, QString::fromUtf8(opened ? sqlite3_errmsg(opened)
                                                            : sqlite3_errstr(result)));
        return false;
    }
    // Readers of the database (zorvid) hold it for moments; the commit waits
    // for them.
    sqlite3_busy_timeout(opened, 5000);
    if (!execute(opened, "BEGIN IMMEDIATE"))
        return failed(opened, QStringLiteral("begin writing"));
    if (write(opened) && execute(opened, "COMMIT"))
        return true;
    if (lastError.isEmpty())
        failed(opened, QStringLiteral("commit"));
    execute(opened, "ROLLBACK");
    importedBooks = 0;
    removedBooks = 0;
    titles.clear();
    return false;
}

int LibrarySync::imported() const
{
    return importedBooks;
}

int LibrarySync::removed() const
{
    return removedBooks;
}

QStringList LibrarySync::importedTitles() const
{
    return titles;
}

QString LibrarySync::error() const
{
    return lastError;
}

bool LibrarySync::write(sqlite3 *database)
{
    QSet<QString> known;
    QStringList books;
    if (!createTable(database) || !readColumns(database) || !readKnown(database, &known, &books))
        return false;
    QStringList found;
    findBooks(storage, 0, &found);
    const QString prefix = QString::fromLatin1(contentIdPrefix);
    QSet<QString> present;
    for (const QString &relativePath : found) {
        present.insert(relativePath);
        if (!known.contains(prefix + relativePath) && !insertBook(database, relativePath))
            return false;
    }
    for (const QString &contentId : books) {
        const QString relativePath = contentId.mid(prefix.size());
        // A file that is there stays, even where a sync does not look.
        if (present.contains(relativePath) ||
            QFileInfo::exists(storage + QLatin1Char('/') + relativePath))
            continue;
        if (!removeBook(database, contentId))
            return false;
    }
    return true;
}

bool LibrarySync::createTable(sqlite3 *database)
{
    return execute(database, createContent) ||
           failed(database, QStringLiteral("create the table of books in"));
}

bool LibrarySync::readColumns(sqlite3 *database)
{
    columns.clear();
    const Statement statement = prepare(database, "PRAGMA table_info(content)");
    if (!statement)
        return failed(database, QStringLiteral("read the columns of"));
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        columns.insert(columnText(statement.get(), 1).toLower());
    if (!columns.contains(QStringLiteral("contentid")) ||
        !columns.contains(QStringLiteral("contenttype"))) {
        lastError = QStringLiteral("the table content has no ContentID or ContentType");
        return false;
    }
    return true;
}

bool LibrarySync::readKnown(sqlite3 *database, QSet<QString> *known, QStringList *books)
{
    // Every row of a file on the storage, books and their parts alike.
    const Statement statement =
        prepare(database, "SELECT ContentID, CAST(ContentType AS TEXT) = '6' FROM content "
                          "WHERE substr(ContentID, 1, length(?1)) = ?1");
    if (!statement)
        return failed(database, QStringLiteral("read the books of"));
    bindText(statement.get(), 1, QString::fromLatin1(contentIdPrefix));
    int step;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        const QString contentId = columnText(statement.get(), 0);
        known->insert(contentId);
        if (sqlite3_column_int(statement.get(), 1))
            books->append(contentId);
    }
    return step == SQLITE_DONE || failed(database, QStringLiteral("read the books of"));
}

void LibrarySync::findBooks(const QString &folder, int depth, QStringList *paths)
{
    // Hidden files and folders (.kobo and the like, whose names start with a
    // dot: QDir leaves them out without QDir::Hidden) hold no books; links
    // are not followed, so no folder is searched twice.
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (paths->size() >= maxFiles)
            return;
        if (entry.isDir()) {
            if (depth < maxDepth)
                findBooks(entry.filePath(), depth + 1, paths);
            continue;
        }
        const QString name = entry.fileName().toLower();
        for (const auto &type : bookTypes) {
            if (name.endsWith(QLatin1String(type.suffix))) {
                paths->append(entry.filePath().mid(storage.size() + 1));
                break;
            }
        }
    }
}

bool LibrarySync::insertBook(sqlite3 *database, const QString &relativePath)
{
    const QFileInfo file(storage + QLatin1Char('/') + relativePath);
    const QString name = file.fileName();
    const QString lowerName = name.toLower();
    for (const auto &type : bookTypes) {
        if (!lowerName.endsWith(QLatin1String(type.suffix)))
            continue;
        const QString contentId = QString::fromLatin1(contentIdPrefix) + relativePath;
        QString title, author;
        if (type.epub) {
            const EpubMetadata metadata(file.filePath());
            title = metadata.title();
            author = metadata.author();
        }
        if (title.isEmpty())
            title = name.left(name.size() - int(qstrlen(type.suffix)));
        const ColumnValue values[] = {
            {"ContentID", contentId},
            {"ContentType", QStringLiteral("6")},
            {"MimeType", QString::fromLatin1(type.mimeType)},
            {"Title", title},
            {"Attribution", author.isEmpty() ? QString() : author},
            {"ImageId", imageIdOf(contentId)},
            {"___FileSize", file.size()},
            {"___UserID", QStringLiteral("")},
            {"IsDownloaded", 1},
            {"ReadStatus", 0},
            {"___PercentRead", 0},
            {"DateCreated",
             QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"))},
        };
        // Only the columns this database has, by name, wherever they stand.
        QByteArray names;
        QByteArray marks;
        for (const ColumnValue &value : values) {
            if (columns.contains(QString::fromLatin1(value.column).toLower())) {
                names += (names.isEmpty() ? "\"" : ", \"") + QByteArray(value.column) + '"';
                marks += marks.isEmpty() ? "?" : ", ?";
            }
        }
        const Statement statement =
            prepare(database, "INSERT INTO content (" + names + ") VALUES (" + marks + ')');
        if (!statement)
            return failed(database, QStringLiteral("add %1 to").arg(relativePath));
        int index = 0;
        for (const ColumnValue &value : values) {
            if (columns.contains(QString::fromLatin1(value.column).toLower()))
                value.bind(statement.get(), ++index);
        }
        if (sqlite3_step(statement.get()) != SQLITE_DONE)
            return failed(database, QStringLiteral("add %1 to").arg(relativePath));
        ++importedBooks;
        titles << title;
        return true;
    }
    return true;
}

bool LibrarySync::removeBook(sqlite3 *database, const QString &contentId)
{
    // The book goes with its parts (chapters), as in Nickel.
    const Statement statement =
        prepare(database, columns.contains(QStringLiteral("bookid"))
                              ? "DELETE FROM content WHERE ContentID = ?1 OR BookID = ?1"
                              : "DELETE FROM content WHERE ContentID = ?1");
    if (!statement)
        return failed(database, QStringLiteral("remove a book from"));
    bindText(statement.get(), 1, contentId);
    if (sqlite3_step(statement.get()) != SQLITE_DONE)
        return failed(database, QStringLiteral("remove a book from"));
    ++removedBooks;
    return true;
}

bool LibrarySync::failed(sqlite3 *database, const QString &step)
{
    lastError = QStringLiteral("cannot %1 the library: %2")
                    .arg(step, QString::fromUtf8(sqlite3_errmsg(database)));
    return false;
}
