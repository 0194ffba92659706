#pragma once

#include <QString>
#include <QStringList>

namespace Tavrix {

// A short system tool run to its end by the helper (ip, nft), found in the system folders only
// and given the fixed environment. Its exit code, -1 when it could not run; output in *output.
// `input`, when given, is the tool's standard input (kept off the disk: keys, batches).
int runSystemCommand(const QString &tool, const QStringList &arguments, QString *output = nullptr,
                     const QByteArray &input = QByteArray());
// An engine file beside the helper run the same way (see ChildProcess::enginePath).
int runEngineOnce(const QString &engine, const QStringList &arguments, QString *output);

} // namespace Tavrix
