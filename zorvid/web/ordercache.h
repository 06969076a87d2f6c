#pragma once

#include "libraryquery.h"

#include <QHash>
#include <QVector>

namespace zorvid {

// The orders of one reading of the library, each sorted once: sorting a
// large library takes a while, and a phone pages through the same order
// again and again. Kept until the library is read again.
class OrderCache {
public:
    // Forgets every order when READING (Library::reading()) is not the one
    // the orders were made from.
    void follow(quint64 reading);
    // BOOKS in ORDER as LOCALE sorts them (LibraryQuery::sorted()).
    const QVector<int> &sorted(const QVector<Book> &books, LibraryQuery::Order order,
                               const QLocale &locale);

private:
    quint64 reading = 0;
    // By order and language; a few at most.
    QHash<QString, QVector<int>> orders;
};

} // namespace zorvid
