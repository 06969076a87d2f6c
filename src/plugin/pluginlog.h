#pragma once

#include <QString>

namespace zorvi {

// A log file larger than this is emptied before the next line is written.
constexpr qint64 logSizeLimit = 262144;

// Appends one time-stamped line to the add-on's log on the user-visible
// storage. Opens and closes the file on every call, so each line is on disk
// when it returns; a line that cannot be written, or that finds the storage
// away, is lost without a word.
void pluginLog(const QString &message);

} // namespace zorvi
