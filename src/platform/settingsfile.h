#pragma once

#include <QString>

namespace Tavrix {

// The settings store holds the obfuscated credentials: make sure only the owner can read it.
// location is QSettings::fileName() of the store. Creates an empty owner-only file when none
// exists yet, so the first write never leaves it readable by others; tightens an existing one.
void restrictSettingsFile(const QString &location);

} // namespace Tavrix
