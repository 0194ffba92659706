#pragma once

#include <QString>

namespace Tavrix {

// The user's system-wide HTTP proxy, which the proxy engines point at their local inbound.
// On Windows the per-user Internet settings; on Linux the desktop's proxy settings where the
// desktop has them, and always a record of the state in the engine folder.
namespace SystemProxy {

// Points the system proxy at `server` ("host:port"). Returns false when nothing took the
// setting; *where says in words what took it (or why nothing did), for the log.
bool enable(const QString &server, QString *where = nullptr);

// Switches the system proxy off (the server entry is left as it is). Where the user's own
// settings were saved when it went on, they are put back instead.
bool disable(QString *where = nullptr);

// Whether the system proxy is on and points at `server`, as this client last set it.
bool isOn(const QString &server);

// Whether the user's own settings are still saved from a switch-on: after a crash between on
// and off, disable() at the next start puts them back.
bool hasSavedSettings();

} // namespace SystemProxy
} // namespace Tavrix
