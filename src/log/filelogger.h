#pragma once

#include <QString>
#include <QtGlobal>

class QMessageLogContext;

namespace Tavrix {

// The process-wide log file: every Qt message becomes one time-stamped line in it and on
// standard error. The file is kept below about 1 MiB by dropping its oldest part.

// Opens the log at the platform's log location. True when the file is open for writing.
bool initFileLogging();
// Same, at an explicit path (tests, tools).
bool initFileLogging(const QString &path);

// Message handler for qInstallMessageHandler.
void fileMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// Cuts the file to its newest part once it reaches the size limit.
void rotateLogIfNeeded();

// Writes the footer and closes the file. Safe to call when the log never opened.
void closeFileLogging();

// A second instance that only wakes the first appends to the same file but must not rewrite
// it under the running instance. On by default.
void setLogRotationEnabled(bool enabled);

// Size limits, exposed for tests: a file of more than rotationThreshold bytes is cut to at
// most keptTailSize bytes.
constexpr qint64 logRotationThreshold = 0xFFFFF;
constexpr qint64 logKeptTailSize = 819200;

} // namespace Tavrix
