#include "highlightspage.h"

#include "pagelanguage.h"
#include "webpage.h"

#include <QUrl>

namespace zorvid {

std::string highlightsLink(const QString &book)
{
    return pageBytes("/highlights?id=" + QUrl::toPercentEncoding(book));
}

PageData exportLinks(const PageLanguage &language, const char *key, const QString &book)
{
    const struct {
        const char *path;
        const char *name;
    } formats[] = {{"/highlights.md", "Markdown"}, {"/highlights.csv", "CSV"}};
    PageData links{PageData::type::list};
    for (const auto &format : formats) {
        const QByteArray path(format.path);
        PageData link;
        link.set("href",
                 pageBytes(book.isNull() ? path : path + "?id=" + QUrl::toPercentEncoding(book)));
        link.set("label",
                 pageValue(language.text(key, {{"format", QString::fromLatin1(format.name)}})));
        links.push_back(link);
    }
    PageData exports;
    exports.set("links", links);
    return exports;
}

HttpReply highlightsPage(const Book &book, const HighlightList &list, const PageLanguage &language,
                         const QString &message)
{
    const QString title = book.title.isEmpty() ? language.text("untitled") : book.title;
    PageData data;
    data.set("bookTitle", pageValue(title));
    if (!book.author.isEmpty())
        data.set("author", pageValue(book.author));
    data.set("libraryTitle", pageValue(language.text("libraryTitle")));
    data.set("notesTitle", pageValue(language.text("notesTitle")));

    QString note = message;
    if (note.isEmpty() && list.highlights.isEmpty())
        note = language.text("noNotes");
    if (!note.isEmpty())
        data.set(message.isEmpty() ? "empty" : "message", pageValue(note));
    if (!list.highlights.isEmpty()) {
        data.set("summary", pageValue(language.counted("notesCount", list.highlights.size())));
        data.set("exports", exportLinks(language, "exportAs", book.contentId));
    }
    if (!list.complete)
        data.set("cut", pageValue(language.text("notesCut")));

    // Chapter after chapter, as the highlights come in reading order.
    PageData chapters{PageData::type::list};
    PageData items{PageData::type::list};
    QString chapter;
    const auto closeChapter = [&] {
        if (items.is_empty_list())
            return;
        PageData section;
        if (!chapter.isEmpty())
            section.set("chapter", pageValue(chapter));
        section.set("items", items);
        chapters.push_back(section);
        items = PageData{PageData::type::list};
    };
    for (const Highlight &highlight : list.highlights) {
        if (highlight.chapter != chapter)
            closeChapter();
        chapter = highlight.chapter;
        PageData item;
        if (!highlight.text.isEmpty())
            item.set("text", pageValue(highlight.text));
        if (!highlight.note.isEmpty()) {
            item.set("note", pageValue(highlight.note));
            item.set("noteLabel", pageValue(language.text("noteLabel")));
        }
        if (highlight.created.isValid())
            item.set("date", pageValue(language.date(highlight.created.date())));
        items.push_back(item);
    }
    closeChapter();
    data.set("chapters", chapters);
    return pageReply(message.isEmpty() ? 200 : 503, "highlights", title, language, data);
}

} // namespace zorvid
