#pragma once

#include <QString>

#include <functional>

namespace Tavrix {

// Desktop notifications ("Connected", "Connection lost", ...). On Linux they go to the
// desktop's notification service on the session bus; where there is none, to the fallback
// the window sets (its tray balloon), else only to the log.
namespace Notifications {

using Fallback = std::function<void(const QString &title, const QString &text)>;

// Shows a notification; returns at once (the service is asked without waiting).
void show(const QString &title, const QString &text);
// Where notifications go when the desktop has no notification service. Call on the GUI thread.
void setFallback(Fallback fallback);

} // namespace Notifications
} // namespace Tavrix
