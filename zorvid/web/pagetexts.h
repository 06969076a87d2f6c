#pragma once

#include "ui/texttable.h"

namespace zorvid {

constexpr int pageTextCount = 43;

// The keys of the texts of the pages that browsers see, one per column.
extern const char *const pageTextKeys[pageTextCount];
// Those texts, UTF-8: one row per language of the add-on's table, in its row
// order, one column per key, every cell filled.
extern const char *const pageTextTable[zorvi::languageCount][pageTextCount];

} // namespace zorvid
