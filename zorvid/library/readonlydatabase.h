#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace zorvid {

// Nickel's database, opened read-only for one reading and closed when this
// goes, so that no lock outlives the reading while Nickel writes; a lock
// that Nickel holds is waited for a moment.
class ReadOnlyDatabase {
public:
    struct FinishStatement {
        void operator()(sqlite3_stmt *statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, FinishStatement>;

    explicit ReadOnlyDatabase(const QString &path);

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

    // COLUMN of the current row as text; null for NULL.
    static QString text(sqlite3_stmt *statement, int column);
    // An ISO 8601 date as Nickel writes it ("2024-01-15T14:30:00Z", with
    // milliseconds or an offset), in UTC; invalid for anything else.
    static QDateTime date(sqlite3_stmt *statement, int column);

private:
    struct CloseDatabase {
        void operator()(sqlite3 *database) const;
    };

    QString path;
    std::unique_ptr<sqlite3, CloseDatabase> handle;
    QString lastError;
};

} // namespace zorvid
