#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Tavrix {

// The system side of the Outline runner: its tunnel program, its two scripts, the DHCP
// renewal and the "is the tunnel program running" look-up.
namespace OutlineCommands {

struct Result
{
    bool started = false;
    bool finished = false; // ended within the time given
    int exitCode = -1;
    QByteArray output; // standard output only
};

// Starts the tunnel program ("tun2socks.exe") detached with `arguments`; its output goes to
// `logFile` (appended), or nowhere when empty. False when it could not be started.
bool startTunnelProgram(const QStringList &arguments, const QString &logFile);

// "cmd.exe /C <script>" with `arguments` as separate entries, detached, output discarded.
// `windowsName` is "route-config.bat" or "disconnect.bat".
bool startScript(const QString &windowsName, const QStringList &arguments);

// Waits at most timeoutMs for the scripts of that name started by startScript() to end; true
// when none is left. A new tunnel must not be set up while the last one's clean-up still runs.
bool waitForScripts(const QString &windowsName, int timeoutMs);

// The same script run to its end, waiting at most timeoutMs (killed past that).
Result runScript(const QString &windowsName, const QStringList &arguments, int timeoutMs);

// "ipconfig /renew", waiting at most timeoutMs.
Result renewDhcpLease(int timeoutMs);

// "powershell -Command Get-Process tun2socks": one line per running tunnel program of ours,
// empty output when there is none.
Result listTunnelPrograms(int timeoutMs);

} // namespace OutlineCommands
} // namespace Tavrix
