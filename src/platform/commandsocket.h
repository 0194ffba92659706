#pragma once

#include <cstdint>

namespace Tavrix {

// The OpenConnect library's command channel as the operating system sees it: a socket on
// Windows, a pipe on Linux. The descriptor is the one the library hands out.

// Puts the descriptor into blocking mode. Returns false on failure.
bool setCommandSocketBlocking(intptr_t fd);

// Writes one command byte. Returns 0, or the system's error number on failure.
int sendCommandByte(intptr_t fd, char command);

// Operating system name the OpenConnect session reports to the server.
const char *openConnectReportedOs();

// File name of the script the OpenConnect library runs to configure the tunnel device; it
// lives in the application directory.
const char *tunScriptName();

} // namespace Tavrix
