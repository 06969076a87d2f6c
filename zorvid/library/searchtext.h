#pragma once

#include "library/book.h"

#include <QString>

namespace zorvid {

// TEXT as a search compares it: lower case, without accents, so that "Zoë"
// matches "zoe" and "ÉTÉ" matches "été".
QString foldedForSearch(const QString &text);
// BOOK's title, author and series folded, one per line: a search holds no
// line break, so it matches within one of them.
QString searchTextOf(const Book &book);

} // namespace zorvid
