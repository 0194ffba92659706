#pragma once

#include <QString>

namespace Tavrix {

// Makes the desktop start executable with a "tavrixvpn://" link as its first argument.
// False when the system's entries could not be written.
bool writeUrlSchemeHandler(const QString &executable);

} // namespace Tavrix
