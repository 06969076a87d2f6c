#include "pagetexts.h"

// The rows live one language to a file in texts/, in the key order of
// pageTextKeys; this file only puts them in row order.

namespace zorvid {

const char *const pageTextKeys[pageTextCount] = {
    "pairTitle",    "pairIntro",     "codeLabel",    "nameLabel",   "pairButton",
    "wrongCode",    "codeWithdrawn", "noOffer",      "codeMissing", "nameMissing",
    "storageAway",  "notSaved",      "libraryTitle", "searchLabel", "searchPlaceholder",
    "searchButton", "sortLabel",     "sortRecent",   "sortTitle",   "sortAuthor",
    "shownRange",   "shownOne",      "libraryEmpty", "noMatches",   "showAll",
    "seriesNumber", "unread",        "percentRead",  "finished",    "lastRead",
    "download",     "untitled",      "previousPage", "nextPage",    "libraryUnavailable",
    "notesTitle",   "notesCount",    "noNotes",      "noteLabel",   "notesUnavailable",
    "exportAs",     "exportAllAs",   "notesCut",
};

const char *const pageTextTable[zorvi::languageCount][pageTextCount] = {
    {
#include "texts/en.inc"
    },
    {
#include "texts/ar.inc"
    },
    {
#include "texts/cs.inc"
    },
    {
#include "texts/da.inc"
    },
    {
#include "texts/de.inc"
    },
    {
#include "texts/el.inc"
    },
    {
#include "texts/es.inc"
    },
    {
#include "texts/fi.inc"
    },
    {
#include "texts/fr.inc"
    },
    {
#include "texts/he.inc"
    },
    {
#include "texts/hi.inc"
    },
    {
#include "texts/hu.inc"
    },
    {
#include "texts/id.inc"
    },
    {
#include "texts/it.inc"
    },
    {
#include "texts/ja.inc"
    },
    {
#include "texts/ko.inc"
    },
    {
#include "texts/nb.inc"
    },
    {
#include "texts/nl.inc"
    },
    {
#include "texts/pl.inc"
    },
    {
#include "texts/pt.inc"
    },
    {
#include "texts/pt-BR.inc"
    },
    {
#include "texts/ro.inc"
    },
    {
#include "texts/ru.inc"
    },
    {
#include "texts/sv.inc"
    },
    {
#include "texts/th.inc"
    },
    {
#include "texts/tr.inc"
    },
    {
#include "texts/uk.inc"
    },
    {
#include "texts/vi.inc"
    },
    {
#include "texts/zh-Hans.inc"
    },
    {
#include "texts/zh-Hant.inc"
    },
};

} // namespace zorvid
