#pragma once

#include "library/book.h"
#include "library/highlight.h"

#include <QByteArray>
#include <QVector>

namespace zorvid {

class PageLanguage;

// The highlights of LIST as a Markdown document: each book (named as BOOKS
// has it) a heading, each chapter a heading below it, each highlight an
// item of a list with its note and date, in LANGUAGE. Every text is
// escaped, so that nothing the database holds becomes a heading, a link,
// markup or a new item.
QByteArray highlightsMarkdown(const HighlightList &list, const QVector<Book> &books,
                              const PageLanguage &language);

// The highlights of LIST as CSV (RFC 4180, UTF-8 with a byte order mark
// so that spreadsheets take it as such): book, author, chapter, highlight,
// note and date (ISO 8601), every field quoted, and one that a spreadsheet
// would take for a formula turned into text with a leading "'".
QByteArray highlightsCsv(const HighlightList &list, const QVector<Book> &books);

// The name of a file of TITLE with EXTENSION, safe to save anywhere: no
// path separators, quotes, characters that file systems refuse, control or
// direction-changing characters, no dot or blank at either end, and not too
// long. FALLBACK when nothing of TITLE is left.
QString exportFileName(const QString &title, const QString &fallback, const QString &extension);

} // namespace zorvid
