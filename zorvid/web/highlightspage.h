#pragma once

#include "http/httpreply.h"
#include "library/book.h"
#include "library/highlight.h"
#include "webpage.h"

namespace zorvid {

// The page of BOOK's highlights and notes, chapter by chapter in reading
// order, with its exports. MESSAGE, when not empty, says why the list is
// missing (the highlights could not be read).
HttpReply highlightsPage(const Book &book, const HighlightList &list, const PageLanguage &language,
                         const QString &message = QString());

// The address of the page of the highlights of the book with ContentID
// BOOK.
std::string highlightsLink(const QString &book);
// The links to the exports of BOOK's highlights (of every book's for a null
// BOOK), one per format, each labelled with the text of KEY: "links", a
// list of "href" and "label".
PageData exportLinks(const PageLanguage &language, const char *key,
                     const QString &book = QString());

} // namespace zorvid
