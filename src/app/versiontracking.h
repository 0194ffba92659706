#pragma once

#include <QString>

namespace Tavrix {

// True when version a is older than b, comparing the first three dot-separated numbers
// (missing or non-numeric parts count as 0). An empty text is never older nor newer.
bool isVersionOlder(const QString &a, const QString &b);

// Compares the version that last ran with the running one, migrates stored data when the
// program was upgraded and remembers the running version.
void trackAppVersion(const QString &current);

// Brings the stored data of version from up to version to.
void migrateSettings(const QString &from, const QString &to);

} // namespace Tavrix
