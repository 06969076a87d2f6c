#pragma once

#include "http/httpreply.h"
#include "library/book.h"
#include "libraryquery.h"

#include <QHash>
#include <QVector>

namespace zorvid {

class BookFiles;
class OrderCache;
class PageLanguage;

// The dashboard: one page of the library's books as QUERY selects them,
// each with its cover and a download where the reader has them, with the
// search, the order and the paging links. MESSAGE, when not empty, says
// why the books may be missing or old (the library could not be read).
// HIGHLIGHTS, by ContentID, says how many highlights each book has: a book
// with some links to them, and the page offers an export of them all.
// CACHE, when given, keeps the order sorted for the pages after.
HttpReply libraryPage(const QVector<Book> &books, const LibraryQuery &query, const BookFiles &files,
                      const PageLanguage &language, const QString &message = QString(),
                      const QHash<QString, int> &highlights = QHash<QString, int>(),
                      OrderCache *cache = nullptr);

} // namespace zorvid
