#include "library/readonlydatabase.h"

#include <QFile>

#include <sqlite3.h>

namespace zorvid {

namespace {

// How long a reading waits for Nickel to finish a write: the daemon's event
// loop waits with it.
constexpr int busyTimeoutMs = 500;

} // namespace

void ReadOnlyDatabase::FinishStatement::operator()(sqlite3_stmt *statement) const
{
    sqlite3_finalize(statement);
}

void ReadOnlyDatabase::CloseDatabase::operator()(sqlite3 *database) const
{
    sqlite3_close_v2(database);
}

ReadOnlyDatabase::ReadOnlyDatabase(const QString &path)
    : path(path)
{
    sqlite3 *opened = nullptr;
    const int result = sqlite3_open_v2(QFile::encodeName(path).constData(), &opened,
                                       SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (result != SQLITE_OK) {
        lastError = QStringLiteral("cannot open %1: %2")
                        .arg(path, QString::fromUtf8(opened ? sqlite3_errmsg(opened)
                                                            : sqlite3_errstr(result)));
        sqlite3_close_v2(opened);
        return;
    }
    handle.reset(opened);
    sqlite3_busy_timeout(opened, busyTimeoutMs);
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
    lastError = QStringLiteral("cannot %1 %2: %3")
                    .arg(QLatin1String(step), path,
                         QString::fromUtf8(handle ? sqlite3_errmsg(handle.get()) : "not open"));
}

QString ReadOnlyDatabase::text(sqlite3_stmt *statement, int column)
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column)) : QString();
}

QDateTime ReadOnlyDatabase::date(sqlite3_stmt *statement, int column)
{
    const QDateTime date = QDateTime::fromString(text(statement, column), Qt::ISODate);
    return date.isValid() ? date.toUTC() : QDateTime();
}

} // namespace zorvid
