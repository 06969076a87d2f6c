#pragma once

namespace zorvi {

constexpr int languageCount = 30;
constexpr int textCount = 31;

// Language codes, one per row of the text table; row 0, English, is the
// fallback.
extern const char *const languageCodes[languageCount];
// Text keys, one per column.
extern const char *const textKeys[textCount];
// Every text the add-on shows, UTF-8: one row per language, one column per
// key, every cell filled.
extern const char *const textTable[languageCount][textCount];

} // namespace zorvi
