#pragma once

#include <QString>

namespace zorvid {

// The version this zorvid was built as.
QString builtVersion();

// True for a version as releases are numbered: 1 to 6 groups of at most 9
// digits, joined by dots ("2.1.0").
bool isReleaseVersion(const QString &text);

// How two release versions compare, group by group, missing groups read as
// zero ("2.1" equals "2.1.0"): negative, zero or positive as strcmp.
int compareVersions(const QString &a, const QString &b);

} // namespace zorvid
