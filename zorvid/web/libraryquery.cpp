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

LibraryQuery::Page LibraryQuery::select(const QVector<Book> &books, const QLocale &locale) const
{
    const QString wanted = foldedForSearch(search);
    QVector<const Book *> matching;
    for (const Book &book : books) {
        if (book.onReader && (wanted.isEmpty() || book.searchText.contains(wanted)))
            matching.append(&book);
    }

    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    // Sort keys, made once per book rather than once per comparison.
    struct Entry {
        const Book *book;
        QCollatorSortKey first;
        QCollatorSortKey second;
    };
    const auto keyOf = [&collator](const QString &text) {
        return collator.sortKey(text);
    };
    // A sort key has no empty state to fill a QVector with.
    std::vector<Entry> entries;
    entries.reserve(size_t(matching.size()));
    for (const Book *book : matching) {
        const QString &major = order == Order::Author ? book->author : book->title;
        entries.push_back(
            Entry{book, keyOf(major), keyOf(order == Order::Author ? book->title : book->author)});
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
        switch (order) {
        case Order::Recent:
            if (a.book->lastRead.isValid() != b.book->lastRead.isValid())
                return a.book->lastRead.isValid();
            if (a.book->lastRead != b.book->lastRead)
                return a.book->lastRead > b.book->lastRead;
            return byText(a, b, a.book->title, b.book->title);
        case Order::Title:
            return byText(a, b, a.book->title, b.book->title);
        case Order::Author:
            return byText(a, b, a.book->author, b.book->author);
        }
        return false;
    });

    Page result;
    result.matches = int(entries.size());
    result.pageCount = qMax(1, (result.matches + pageSize - 1) / pageSize);
    result.page = qMin(page, result.pageCount - 1);
    const int first = result.page * pageSize;
    for (int i = first; i < qMin(first + pageSize, result.matches); ++i)
        result.books.append(entries.at(size_t(i)).book);
    return result;
}

} // namespace zorvid
