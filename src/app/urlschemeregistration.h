#pragma once

#include <QString>

namespace Tavrix {

// Registers the "tavrixvpn://" scheme for executable unless it is already registered for
// exactly that path; remembers the registration in the settings group "Application".
// Start-up goes on whatever happens.
void registerUrlScheme(const QString &executable);

// The running program's own path in native separators.
void registerUrlScheme();

} // namespace Tavrix
