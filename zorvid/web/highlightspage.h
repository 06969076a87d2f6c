#pragma once

#include "http/httpreply.h"
#include "library/book.h"
#include "library/highlight.h"

#include <string>

namespace zorvid {

class PageLanguage;

// The page of BOOK's highlights and notes, chapter by chapter in reading
// order, with its exports. MESSAGE, when not empty, says why the list is
// missing (the highlights could not be read).
HttpReply highlightsPage(const Book &book, const HighlightList &list, const PageLanguage &language,
                         const QString &message = QString());

// The address of the page of the highlights of the book with ContentID
// BOOK.
std::string highlightsLink(const QString &book);
// The address of their export as FORMAT ("md" or "csv"); of those of every
// book when BOOK is null.
std::string highlightsExportLink(const char *format, const QString &book = QString());
// The name by which people know FORMAT.
QString exportFormatName(const char *format);

} // namespace zorvid
