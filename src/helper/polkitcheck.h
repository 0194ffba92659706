#pragma once

#include <QDBusConnection>
#include <QString>

namespace Tavrix {

// Asks polkit whether the bus client `busName` may use `action`, without any interaction
// (an active local session is allowed by the action's defaults; anything else is refused).
// False with *reason set when it may not or polkit cannot be asked.
bool polkitAllows(const QDBusConnection &bus, const QString &busName, const QString &action, QString *reason);

} // namespace Tavrix
