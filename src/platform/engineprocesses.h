#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace Tavrix {

// The engine programs and scripts that ship beside the client, and the "taskkill" /
// "tasklist" style look-ups by image name. Only processes started from our own engine files
// ever match: another program of the same name is never touched.
namespace EngineProcesses {

// Full path of a shipped engine file, given its Windows name relative to the program folder
// ("openvpn.exe", "Xray/xray.exe", "wireguard/wireguard-client.exe", "route-config.bat").
// On Linux ".exe" is dropped and ".bat" becomes ".sh".
QString enginePath(const QString &windowsName);

// Process ids of running processes started from the engine file `windowsName`.
QList<qint64> find(const QString &windowsName);

// find() for several engine files with one look at the process list; every name is a key.
QHash<QString, QList<qint64>> findEach(const QStringList &windowsNames);

// Whether the process `pid` runs and was started from the engine file `windowsName`.
bool isRunning(const QString &windowsName, qint64 pid);

// One line per match, "<pid> <command line>", for the "is it running" checks; empty when none.
QString describe(const QString &windowsName);

// Starts the engine file `windowsName` so that it outlives the client (it is stopped only by
// stop()), with its standard output and error written to `outputFile`. The engine stays in
// the client's session (on Linux a new session would also be a scheduling group of its own,
// which on a busy machine halves its share of the processor). On success *pid is its id;
// on failure *error says why.
bool startDetached(const QString &windowsName, const QStringList &arguments, const QString &outputFile, qint64 *pid,
                   QString *error);

// "taskkill /F /IM": stops every process started from the engine file (SIGTERM, then SIGKILL
// for those still running after graceMs). Returns 0 when something was stopped, 128 when
// nothing matched, as taskkill does. Blocks for at most graceMs plus a moment.
int stop(const QString &windowsName, int graceMs = 5000);

} // namespace EngineProcesses
} // namespace Tavrix
