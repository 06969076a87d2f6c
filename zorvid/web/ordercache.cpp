#include "ordercache.h"

namespace zorvid {

namespace {

// Orders kept at once: each of the three for two languages.
constexpr int maxOrders = 6;

} // namespace

void OrderCache::follow(quint64 now)
{
    if (now != reading)
        orders.clear();
    reading = now;
}

const QVector<int> &OrderCache::sorted(const QVector<Book> &books, LibraryQuery::Order order,
                                       const QLocale &locale)
{
    const QString key =
        QLatin1String(LibraryQuery::orderName(order)) + QLatin1Char(' ') + locale.name();
    const auto found = orders.constFind(key);
    if (found != orders.constEnd())
        return *found;
    if (orders.size() >= maxOrders)
        orders.clear();
    return *orders.insert(key, LibraryQuery::sorted(books, order, locale));
}

} // namespace zorvid
