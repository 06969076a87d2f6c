#include "libraryquery.h"

#include "formfields.h"
#include "library/searchtext.h"

#include <QCollator>
#include <QUrl>

#include <algorithm>
#include <vector>

namespace zorvid {

namespace {

const char *const orderNames[] = {"recent", "title", "author"};

} // namespace

LibraryQuery LibraryQuery::fromUrlQuery(const QByteArray &query)
{
    LibraryQuery result;
    const QJsonObject fields = formFields(query);
    result.search = fields.value(QLatin1String("q")).toString().simplified().left(200);
    const QString order = fields.value(QLatin1String("sort")).toString();
    for (int i = 0; i < 3; ++i) {
        if (order == QLatin1String(orderNames[i]))
            result.order = Order(i);
    }
    bool valid = false;
    const int page = fields.value(QLatin1String("page")).toString().toInt(&valid);
    if (valid && page >= 1)
        result.page = page - 1;
    return result;
}

const char *LibraryQuery::orderName(Order order)
{
    return orderNames[int(order)];
}

QByteArray LibraryQuery::toUrlQuery() const
{
    QByteArray query;
    const auto add = [&query](const char *name, const QByteArray &value) {
        query += (query.isEmpty() ? "" : "&") + QByteArray(name) + '=' + value;
    };
    if (!search.isEmpty())
        add("q", QUrl::toPercentEncoding(search));
    if (order != Order::Recent)
        add("sort", orderName(order));
    if (page > 0)
        add("page", QByteArray::number(page + 1));
    return query;
}

QVector<int> LibraryQuery::sorted(const QVector<Book> &books, Order order, const QLocale &locale)
{
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    // Sort keys, made once per book rather than once per comparison.
    struct Entry {
        int index;
        QCollatorSortKey first;
        QCollatorSortKey second;
    };
    // A sort key has no empty state to fill a QVector with.
    std::vector<Entry> entries;
    entries.reserve(size_t(books.size()));
    for (int i = 0; i < books.size(); ++i) {
        const Book &book = books.at(i);
        if (!book.onReader)
            continue;
        const QString &major = order == Order::Author ? book.author : book.title;
        const QString &minor = order == Order::Author ? book.title : book.author;
        entries.push_back(Entry{i, collator.sortKey(major), collator.sortKey(minor)});
    }
    // Empty titles and authors go after the others, whatever the order.
    const auto byText = [](const Entry &a, const Entry &b, const QString &textA,
                           const QString &textB) {
        if (textA.isEmpty() != textB.isEmpty())
            return textB.isEmpty();
        const int major = a.first.compare(b.first);
        return major != 0 ? major < 0 : a.second.compare(b.second) < 0;
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        const Book &bookA = books.at(a.index);
        const Book &bookB = books.at(b.index);
        switch (order) {
        case Order::Recent:
            if (bookA.lastRead.isValid() != bookB.lastRead.isValid())
                return bookA.lastRead.isValid();
            if (bookA.lastRead != bookB.lastRead)
                return bookA.lastRead > bookB.lastRead;
            return byText(a, b, bookA.title, bookB.title);
        case Order::Title:
            return byText(a, b, bookA.title, bookB.title);
        case Order::Author:
            return byText(a, b, bookA.author, bookB.author);
        }
        return false;
    });
    QVector<int> indexes;
    indexes.reserve(int(entries.size()));
    for (const Entry &entry : entries)
        indexes.append(entry.index);
    return indexes;
}

LibraryQuery::Page LibraryQuery::select(const QVector<Book> &books,
                                        const QVector<int> &inOrder) const
{
    const QString wanted = foldedForSearch(search);
    Page result;
    result.matches = 0;
    const auto matches = [&](const Book &book) {
        return wanted.isEmpty() || book.searchText.contains(wanted);
    };
    // Only the page's books are kept; the others are counted.
    const int first = page * pageSize;
    QVector<int> shown;
    QVector<int> lastFull;
    for (const int index : inOrder) {
        if (!matches(books.at(index)))
            continue;
        const int position = result.matches++;
        if (position >= first && position < first + pageSize)
            shown.append(index);
        // Kept in case the page asked for lies past the last.
        if (position % pageSize == 0)
            lastFull.clear();
        lastFull.append(index);
    }
    result.pageCount = qMax(1, (result.matches + pageSize - 1) / pageSize);
    result.page = qMin(page, result.pageCount - 1);
    if (result.page != page)
        shown = lastFull;
    for (const int index : shown)
        result.books.append(&books.at(index));
    return result;
}

} // namespace zorvid
