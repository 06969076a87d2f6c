#pragma once

#include "library/book.h"

#include <QLocale>
#include <QVector>

namespace zorvid {

// What one page of the dashboard shows of the library: the books on the
// reader that match a search, in the order asked for, a page at a time.
struct LibraryQuery {
    enum class Order { Recent, Title, Author };
    static constexpr int pageSize = 24;

    QString search;
    Order order = Order::Recent;
    // From 0; a page past the last shows the last.
    int page = 0;

    // From a URL's query, "q=...&sort=title&page=2" (pages counted from 1
    // there); anything unknown or malformed is left at its default.
    static LibraryQuery fromUrlQuery(const QByteArray &query);
    // The URL query that asks for this, for links; empty for the defaults.
    QByteArray toUrlQuery() const;
    // An order's name in URL queries: "recent", "title", "author".
    static const char *orderName(Order order);

    struct Page {
        QVector<const Book *> books;
        // Books that match, on every page.
        int matches = 0;
        // The page shown, from 0, and how many there are.
        int page = 0;
        int pageCount = 0;
    };
    // The indexes of the BOOKS on the reader in ORDER; titles and authors
    // sorted as LOCALE's language sorts them. Books listed but not on the
    // reader are left out.
    static QVector<int> sorted(const QVector<Book> &books, Order order, const QLocale &locale);
    // The page asked for of the BOOKS IN_ORDER (as sorted() gives them) that
    // match the search: titles, authors and series, ignoring case and
    // accents.
    Page select(const QVector<Book> &books, const QVector<int> &inOrder) const;
};

} // namespace zorvid
