#pragma once

#include <QString>

namespace Tavrix {

// Makes the desktop start executable with a "tavrixvpn://" link as its first argument.
// False when the system's entries could not be written.
bool writeUrlSchemeHandler(const QString &executable);

// One argument of a desktop entry's Exec line: quoted as desktop entries require, then
// escaped once more as a desktop entry string value (desktops with such entries only).
QString desktopExecArgument(const QString &argument);

} // namespace Tavrix
