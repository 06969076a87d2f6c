#include "librarypage.h"

#include "bookfiles.h"
#include "highlightspage.h"
#include "ordercache.h"
#include "pagelanguage.h"
#include "webpage.h"

#include <QUrl>

namespace zorvid {

namespace {

// A name from the library inside a sentence of the page: isolated, so that
// a right-to-left series in an English sentence, or a Latin one in a Hebrew
// sentence, keeps its own direction and leaves the sentence's alone.
QString isolated(const QString &value)
{
    return QChar(0x2068) + value + QChar(0x2069);
}

std::string link(const char *path, const QString &id)
{
    return pageBytes(QByteArray(path) + "?id=" + QUrl::toPercentEncoding(id));
}

std::string pageLink(LibraryQuery query, int page)
{
    query.page = page;
    const QByteArray parameters = query.toUrlQuery();
    return pageBytes("/" + (parameters.isEmpty() ? QByteArray() : '?' + parameters));
}

PageData bookData(const Book &book, const BookFiles &files, const PageLanguage &language,
                  int highlights)
{
    PageData data;
    data.set("title", pageValue(book.title.isEmpty() ? language.text("untitled") : book.title));
    if (!book.author.isEmpty())
        data.set("author", pageValue(book.author));
    if (!book.series.isEmpty()) {
        data.set("series",
                 pageValue(book.seriesNumber.isEmpty()
                               ? book.series
                               : language.text(
                                     "seriesNumber",
                                     {{"series", isolated(book.series)},
                                      {"number", isolated(language.numeral(book.seriesNumber))}})));
    }
    const int percent = book.readStatus == 2 ? 100 : qBound(0, book.percentRead, 100);
    data.set("percent", std::to_string(percent));
    QString progress = language.text("unread");
    if (book.readStatus == 2)
        progress = language.text("finished");
    else if (book.readStatus == 1 || percent > 0)
        progress = language.text("percentRead", {{"percent", language.number(percent)}});
    data.set("progress", pageValue(progress));
    if (book.lastRead.isValid())
        data.set("lastRead", pageValue(language.text(
                                 "lastRead", {{"date", language.date(book.lastRead.date())}})));
    if (!files.coverFile(book.imageId).isEmpty())
        data.set("cover", link("/cover", book.contentId));
    if (!files.bookFile(book.contentId).isEmpty()) {
        data.set("download", link("/download", book.contentId));
        data.set("downloadLabel", pageValue(language.text("download")));
    }
    if (highlights > 0) {
        data.set("highlights", highlightsLink(book.contentId));
        data.set("highlightsLabel", pageValue(language.counted("notesCount", highlights)));
    }
    return data;
}

} // namespace

HttpReply libraryPage(const QVector<Book> &books, const LibraryQuery &query, const BookFiles &files,
                      const PageLanguage &language, const QString &message,
                      const QHash<QString, int> &highlights, OrderCache *cache)
{
    const LibraryQuery::Page page =
        query.select(books, cache ? cache->sorted(books, query.order, language.locale())
                                  : LibraryQuery::sorted(books, query.order, language.locale()));
    PageData data;
    for (const char *key :
         {"libraryTitle", "searchLabel", "searchPlaceholder", "searchButton", "sortLabel"})
        data.set(key, pageValue(language.text(key)));
    data.set("search", pageValue(query.search));

    PageData orders{PageData::type::list};
    const std::pair<LibraryQuery::Order, const char *> labels[] = {
        {LibraryQuery::Order::Recent, "sortRecent"},
        {LibraryQuery::Order::Title, "sortTitle"},
        {LibraryQuery::Order::Author, "sortAuthor"}};
    for (const auto &label : labels) {
        PageData order;
        order.set("value", LibraryQuery::orderName(label.first));
        order.set("label", pageValue(language.text(label.second)));
        order.set("selected", label.first == query.order);
        orders.push_back(order);
    }
    data.set("orders", orders);

    QString note = message;
    if (note.isEmpty() && page.matches == 0) {
        note = query.search.isEmpty()
                   ? language.text("libraryEmpty")
                   : language.text("noMatches", {{"query", isolated(query.search)}});
    }
    if (!note.isEmpty())
        data.set("message", pageValue(note));
    if (!query.search.isEmpty())
        data.set("showAll", pageValue(language.text("showAll")));
    if (page.matches > 0) {
        const int first = page.page * LibraryQuery::pageSize + 1;
        const int last = first + page.books.size() - 1;
        // A page of one book names it alone: "21 of 21", not "21–21 of 21".
        data.set("summary", pageValue(language.text(first == last ? "shownOne" : "shownRange",
                                                    {{"first", language.number(first)},
                                                     {"last", language.number(last)},
                                                     {"total", language.number(page.matches)}})));
    }

    PageData list{PageData::type::list};
    for (const Book *book : page.books)
        list.push_back(bookData(*book, files, language, highlights.value(book->contentId)));
    data.set("books", list);
    if (!highlights.isEmpty())
        data.set("exports", exportLinks(language, "exportAllAs"));

    if (page.pageCount > 1) {
        PageData paging;
        if (page.page > 0) {
            paging.set("previous", pageLink(query, page.page - 1));
            paging.set("previousLabel", pageValue(language.text("previousPage")));
        }
        if (page.page + 1 < page.pageCount) {
            paging.set("next", pageLink(query, page.page + 1));
            paging.set("nextLabel", pageValue(language.text("nextPage")));
        }
        data.set("paging", paging);
    }
    return pageReply(message.isEmpty() || !books.isEmpty() ? 200 : 503, "library",
                     language.text("libraryTitle"), language, data);
}

} // namespace zorvid
