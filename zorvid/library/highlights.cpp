#include "library/highlights.h"

#include "library/readonlydatabase.h"

#include <QSet>

#include <sqlite3.h>

namespace zorvid {

namespace {

// The longest ContentID, and the most books, whose highlights are counted.
constexpr int idLimit = 1024;
constexpr int countedBooks = 20000;

// A text as the pages and exports take it: lines apart by "\n" (or spaces
// for a one-line title), no other control characters, no blanks around it,
// and at most LIMIT characters, the last of a longer one being "…".
QString bounded(const QString &value, int limit, bool lines)
{
    QString clean;
    clean.reserve(value.size());
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        const bool lineEnd = c == QLatin1Char('\n') || c == QLatin1Char('\r') ||
                             c.unicode() == 0x2028 || c.unicode() == 0x2029;
        if (lineEnd) {
            // "\r\n" is one end of a line.
            if (c == QLatin1Char('\r') && i + 1 < value.size() && value.at(i + 1) == '\n')
                ++i;
            clean += lines ? QLatin1Char('\n') : QLatin1Char(' ');
        } else if (c == QLatin1Char('\t')) {
            clean += QLatin1Char(' ');
        } else if (c.unicode() >= 0x20 && (c.unicode() < 0x7f || c.unicode() > 0x9f)) {
            clean += c;
        }
    }
    clean = clean.trimmed();
    // Counted in characters, so that a pair of surrogates is never split.
    int characters = 0;
    for (int i = 0; i < clean.size(); ++i) {
        if (clean.at(i).isLowSurrogate())
            continue;
        if (++characters == limit) {
            const int end = i + (clean.at(i).isHighSurrogate() ? 2 : 1);
            if (end < clean.size())
                return clean.left(i) + QChar(0x2026);
            break;
        }
    }
    return clean;
}

} // namespace

// The SQL that reads what this database has, a missing column being NULL.
struct Highlights::Query {
    bool readable = false;
    QByteArray text, note, chapter, created, book;
    QByteArray from;
    QByteArray visible;
    QByteArray order;
    // Book after book, by title.
    QByteArray bookOrder;
};

Highlights::Highlights(const QString &database)
    : database(database)
{
}

bool Highlights::prepare(ReadOnlyDatabase &file, Query *query)
{
    QSet<QString> bookmark, content;
    if (!file.isOpen() || !file.columns("Bookmark", &bookmark) ||
        !file.columns("content", &content)) {
        lastError = file.error();
        return false;
    }
    const auto has = [](const QSet<QString> &columns, const char *name) {
        return columns.contains(QString::fromLatin1(name).toLower());
    };
    const auto column = [&has](const QSet<QString> &columns, const char *table, const char *name) {
        return has(columns, name) ? QByteArray(table) + ".\"" + name + '"' : QByteArray("NULL");
    };
    const auto cut = [](const QByteArray &value, int limit) {
        // One character more than kept, so that bounded() sees it is longer.
        return "substr(" + value + ", 1, " + QByteArray::number(limit + 1) + ')';
    };
    // Without the books' ids, nothing can be tied to a book.
    query->readable =
        has(bookmark, "VolumeID") && has(content, "ContentID") && has(content, "ContentType");
    if (!query->readable)
        return true;

    const QByteArray text = column(bookmark, "b", "Text");
    const QByteArray note = column(bookmark, "b", "Annotation");
    query->book = "b.\"VolumeID\"";
    query->text = cut(text, textLimit);
    query->note = cut(note, noteLimit);
    query->chapter = cut(column(content, "c", "Title"), titleLimit);
    query->created = "substr(coalesce(nullif(" + column(bookmark, "b", "DateCreated") + ", ''), " +
                     column(bookmark, "b", "DateModified") + "), 1, 64)";
    // The book's row makes sure the book is one (and bounds the ids read);
    // the part's row, if there is one, gives the chapter and its place.
    query->from = "Bookmark b JOIN content v ON v.ContentID = b.\"VolumeID\" AND "
                  "CAST(v.ContentType AS TEXT) = '6'";
    if (has(bookmark, "ContentID"))
        query->from += " LEFT JOIN content c ON c.ContentID = b.\"ContentID\" AND "
                       "CAST(c.ContentType AS TEXT) = '9'";
    else
        query->from += " LEFT JOIN content c ON 0";
    // Firmware writes Hidden as a number or as 'true'/'false'. A bookmark
    // (dogear) is no highlight, nor is a row with neither text nor note (a
    // drawn note, say).
    const QByteArray hidden = column(bookmark, "b", "Hidden");
    const QByteArray blanks = "' ' || char(9, 10, 13)";
    query->visible = "coalesce(lower(CAST(" + hidden + " AS TEXT)) = 'true' OR (typeof(" + hidden +
                     ") IN ('integer', 'real') AND " + hidden + " <> 0), 0) = 0 AND " +
                     column(bookmark, "b", "Type") + " IS NOT 'dogear' AND (length(trim(" + text +
                     ", " + blanks + ")) > 0 OR length(trim(" + note + ", " + blanks + ")) > 0)";
    const QByteArray part = column(content, "c", "VolumeIndex");
    query->order = "(" + part + " IS NULL), " + part + ", " +
                   column(bookmark, "b", "ChapterProgress") + ", " +
                   column(bookmark, "b", "StartOffset");
    query->bookOrder = column(content, "v", "Title") + " COLLATE NOCASE, v.ContentID";
    return true;
}

bool Highlights::read(const QString &book, HighlightList *list)
{
    ReadOnlyDatabase file(database);
    Query query;
    if (!prepare(file, &query))
        return false;
    list->highlights.clear();
    list->complete = true;
    if (!query.readable)
        return true;

    const bool all = book.isNull();
    const int limit = all ? int(perExport) : int(perBook);
    const QByteArray sql = "SELECT " + query.book + ", " + query.text + ", " + query.note + ", " +
                           query.chapter + ", " + query.created + " FROM " + query.from +
                           " WHERE " + (all ? QByteArray() : "b.\"VolumeID\" = ?1 AND ") +
                           query.visible + " ORDER BY " +
                           (all ? query.bookOrder + ", " : QByteArray()) + query.order + " LIMIT " +
                           QByteArray::number(limit + 1);
    const ReadOnlyDatabase::Statement statement = file.prepare(sql);
    if (!statement) {
        lastError = file.error();
        return false;
    }
    const QByteArray id = book.toUtf8();
    if (!all)
        sqlite3_bind_text(statement.get(), 1, id.constData(), id.size(), SQLITE_STATIC);
    qint64 bytes = 0;
    int step;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        sqlite3_stmt *row = statement.get();
        for (int column = 0; column < 4; ++column)
            bytes += sqlite3_column_bytes(row, column);
        if (list->highlights.size() == limit || bytes > textBudget) {
            list->complete = false;
            break;
        }
        Highlight highlight;
        highlight.bookId = ReadOnlyDatabase::text(row, 0);
        highlight.text = bounded(ReadOnlyDatabase::text(row, 1), textLimit, true);
        highlight.note = bounded(ReadOnlyDatabase::text(row, 2), noteLimit, true);
        // Blanks and control characters alone are no highlight.
        if (highlight.text.isEmpty() && highlight.note.isEmpty())
            continue;
        highlight.chapter = bounded(ReadOnlyDatabase::text(row, 3), titleLimit, false);
        highlight.created = ReadOnlyDatabase::date(row, 4);
        list->highlights.append(highlight);
    }
    if (step != SQLITE_DONE && step != SQLITE_ROW) {
        file.failed("read the highlights of");
        lastError = file.error();
        return false;
    }
    return true;
}

bool Highlights::count(QHash<QString, int> *counts)
{
    ReadOnlyDatabase file(database);
    Query query;
    if (!prepare(file, &query))
        return false;
    counts->clear();
    if (!query.readable)
        return true;
    // Asked for every page of the library: one pass over the table alone,
    // for books of ids no longer than a real one, and no more of them than
    // a library holds.
    const ReadOnlyDatabase::Statement statement =
        file.prepare("SELECT " + query.book + ", count(*) FROM Bookmark b WHERE length(" +
                     query.book + ") <= " + QByteArray::number(idLimit) + " AND " + query.visible +
                     " GROUP BY " + query.book + " LIMIT " + QByteArray::number(countedBooks));
    if (!statement) {
        lastError = file.error();
        return false;
    }
    int step;
    while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
        counts->insert(ReadOnlyDatabase::text(statement.get(), 0),
                       qMin(sqlite3_column_int(statement.get(), 1), int(perBook)));
    }
    if (step != SQLITE_DONE) {
        file.failed("count the highlights of");
        lastError = file.error();
        return false;
    }
    return true;
}

} // namespace zorvid
