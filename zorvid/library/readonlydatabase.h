#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QSet>
#include <QString>

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace zorvid {

// Nickel's database, opened read-only for one reading and closed when this
// goes, so that no lock outlives the reading while Nickel writes; a lock
// that Nickel holds is waited for a moment. Reading never writes to the
// storage and never hangs: only regular files are opened, a database in WAL
// mode whose log is absent (nobody has it open) is read as it lies rather
// than given a log and an index beside it, and a reading that takes longer
// than its limit ends with an error ("content" may be an endless view).
class ReadOnlyDatabase {
public:
    struct FinishStatement {
        void operator()(sqlite3_stmt *statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, FinishStatement>;

    explicit ReadOnlyDatabase(const QString &path, qint64 limitMs = 10000);
    Q_DISABLE_COPY(ReadOnlyDatabase)

    // False, with the reason in error(), when the file cannot be opened.
    bool isOpen() const { return handle != nullptr; }
    // The names of TABLE's columns, lower-cased, as this firmware has them;
    // none when there is no such table. False when they cannot be read.
    bool columns(const char *table, QSet<QString> *names);
    // SQL ready to step; null, with the reason in error(), when it is not.
    Statement prepare(const QByteArray &sql);
    // After a step that was neither a row nor the end.
    void failed(const char *step);
    QString error() const { return lastError; }

    // COLUMN of the current row as text, at most LIMIT bytes of it (cut
    // between characters) when LIMIT is not negative; null for NULL.
    static QString text(sqlite3_stmt *statement, int column, int limit = -1);
    // Up to LENGTH bytes from OFFSET of PATH if it is a regular file, read
    // so that nothing else standing there (a FIFO) could hold the call.
    static QByteArray peek(const QString &path, int offset, int length);
    // An ISO 8601 date as Nickel writes it ("2024-01-15T14:30:00Z", with
    // milliseconds or an offset), in UTC; invalid for anything else.
    static QDateTime date(sqlite3_stmt *statement, int column);

private:
    struct CloseDatabase {
        void operator()(sqlite3 *database) const;
    };

    QString path;
    qint64 limitMs;
    QElapsedTimer clock;
    std::unique_ptr<sqlite3, CloseDatabase> handle;
    QString lastError;
};

} // namespace zorvid
