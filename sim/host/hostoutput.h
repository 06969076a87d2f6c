#pragma once

#include <QString>

// Writes "nickel-sim: TEXT" as one line on standard output and flushes it, so
// that a test reading the output can follow the host event by event.
void hostSay(const QString &text);
