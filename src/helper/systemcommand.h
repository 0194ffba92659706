#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Tavrix {

// A short system tool run to its end by the helper (ip, nft), found in the system folders only
// and given the fixed environment. Its exit code, -1 when it could not run; output in *output.
// `input`, when given, is the tool's standard input (kept off the disk: keys, batches).
int runSystemCommand(const QString &tool, const QStringList &arguments, QString *output = nullptr,
                     const QByteArray &input = QByteArray());
// The same for a caller that wants the tool's standard output alone (*output, may be null)
// and, when it fails (not there, not started, timed out, non-zero exit), its complaint on
// standard error in *error.
bool runSystemTool(const QString &tool, const QStringList &arguments, const QByteArray &input, QByteArray *output,
                   QString *error);
// An engine file beside the helper run the same way (see ChildProcess::enginePath).
int runEngineOnce(const QString &engine, const QStringList &arguments, QString *output);

} // namespace Tavrix
