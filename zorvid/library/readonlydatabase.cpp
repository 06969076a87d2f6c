#include "library/readonlydatabase.h"

#include <QFile>
#include <QUrl>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvid {

namespace {

// How long a reading waits for Nickel to finish a write: the daemon's event
// loop waits with it.
constexpr int busyTimeoutMs = 500;

// Whether PATH is a regular file, or (ABSENT_TOO) missing.
bool isRegularFile(const QString &path, bool absentToo, bool *exists = nullptr)
{
    struct stat status {};
    const bool found = ::stat(QFile::encodeName(path).constData(), &status) == 0;
    if (exists)
        *exists = found;
    return found ? S_ISREG(status.st_mode) : absentToo;
}

} // namespace

void ReadOnlyDatabase::FinishStatement::operator()(sqlite3_stmt *statement) const
{
    sqlite3_finalize(statement);
}

void ReadOnlyDatabase::CloseDatabase::operator()(sqlite3 *database) const
{
    sqlite3_close_v2(database);
}

ReadOnlyDatabase::ReadOnlyDatabase(const QString &path, qint64 limitMs)
    : path(path)
    , limitMs(limitMs)
{
    bool walPresent = false;
    bool indexPresent = false;
    if (!isRegularFile(path, false) ||
        !isRegularFile(path + QStringLiteral("-wal"), true, &walPresent) ||
        !isRegularFile(path + QStringLiteral("-shm"), true, &indexPresent) ||
        !isRegularFile(path + QStringLiteral("-journal"), true)) {
        lastError =
            QStringLiteral("%1 or one of its journals is missing or no regular file").arg(path);
        return;
    }
    // A database in WAL mode (its header's versions are 2) is read through
    // its log and the log's index, which a reader makes when they are
    // missing, and which would then stay on the storage. Both are there while
    // Nickel has it open; without them nobody writes it.
    const bool walMode = peek(path, 18, 2) == QByteArray("\x02\x02", 2);
    QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    if (walMode && (!walPresent || !indexPresent))
        uri += "?immutable=1";
    sqlite3 *opened = nullptr;
    const int result =
        sqlite3_open_v2(uri.constData(), &opened,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, nullptr);
    if (result != SQLITE_OK) {
        lastError = QStringLiteral("cannot open %1: %2")
                        .arg(path, QString::fromUtf8(opened ? sqlite3_errmsg(opened)
                                                            : sqlite3_errstr(result)));
        sqlite3_close_v2(opened);
        return;
    }
    handle.reset(opened);
    sqlite3_busy_timeout(opened, busyTimeoutMs);
    clock.start();
    sqlite3_progress_handler(
        opened, 1000,
        [](void *context) {
            const auto *database = static_cast<ReadOnlyDatabase *>(context);
            return int(database->clock.hasExpired(database->limitMs));
        },
        this);
    // One pass needs no cache of pages: a small one keeps a reading of a
    // large table from growing the daemon for good.
    sqlite3_exec(opened, "PRAGMA cache_size = -256", nullptr, nullptr, nullptr);
}

bool ReadOnlyDatabase::columns(const char *table, QSet<QString> *names)
{
    const Statement statement = prepare("PRAGMA table_info(" + QByteArray(table) + ')');
    if (!statement)
        return false;
    int step;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW)
        names->insert(text(statement.get(), 1).toLower());
    if (step != SQLITE_DONE) {
        failed("read the columns of");
        return false;
    }
    return true;
}

ReadOnlyDatabase::Statement ReadOnlyDatabase::prepare(const QByteArray &sql)
{
    if (!handle)
        return Statement();
    sqlite3_stmt *prepared = nullptr;
    if (sqlite3_prepare_v2(handle.get(), sql.constData(), -1, &prepared, nullptr) != SQLITE_OK) {
        failed("read");
        return Statement();
    }
    return Statement(prepared);
}

void ReadOnlyDatabase::failed(const char *step)
{
    if (handle && sqlite3_errcode(handle.get()) == SQLITE_INTERRUPT) {
        lastError = QStringLiteral("reading %1 took longer than %2 ms").arg(path).arg(limitMs);
        return;
    }
    lastError = QStringLiteral("cannot %1 %2: %3")
                    .arg(QLatin1String(step), path,
                         QString::fromUtf8(handle ? sqlite3_errmsg(handle.get()) : "not open"));
}

QString ReadOnlyDatabase::text(sqlite3_stmt *statement, int column, int limit)
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    if (!bytes)
        return QString();
    int length = sqlite3_column_bytes(statement, column);
    if (limit >= 0 && length > limit) {
        length = limit;
        // Back to the start of the character that the cut would split.
        while (length > 0 && (uchar(bytes[length]) & 0xc0) == 0x80)
            --length;
    }
    return QString::fromUtf8(bytes, length);
}

QByteArray ReadOnlyDatabase::peek(const QString &path, int offset, int length)
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

QDateTime ReadOnlyDatabase::date(sqlite3_stmt *statement, int column)
{
    const QDateTime date = QDateTime::fromString(text(statement, column), Qt::ISODate);
    return date.isValid() ? date.toUTC() : QDateTime();
}

} // namespace zorvid
