#pragma once

#include <cstdint>
#include <string>

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

// What the library is given to run that script (UTF-8 paths in). The library hands it to the
// system's command interpreter, so the path must stay one word whatever folder the client is
// in. logFolder, when given, is the session's private folder the script keeps its log in,
// handed over in the script's environment as TAVRIXVPN_LOG_DIR.
std::string tunScriptCommand(const std::string &scriptPath, const std::string &logFolder = std::string());

// Whether a socket the library opened is a stream (its TLS connection to the server) rather
// than a datagram socket (DTLS).
bool isStreamSocket(intptr_t fd);

} // namespace Tavrix
