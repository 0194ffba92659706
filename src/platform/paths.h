#pragma once

#include <QString>

namespace Tavrix {

// Where the client keeps its files on this platform.

// Data folder of the engines (configuration files written for them, their logs, state).
// Always ends with "/"; created when missing.
QString engineFolder();

// Folder the home banners' pictures are stored in. Always ends with "/"; created when missing.
QString bannerFolder();

// The log file: "logger.txt" beside the executable when that folder is writable, otherwise
// in the engine folder.
QString logFilePath();

} // namespace Tavrix
