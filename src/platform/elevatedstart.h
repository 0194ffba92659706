#pragma once

#include <QString>
#include <QStringList>

namespace Tavrix {

// Starting an engine program with administrator rights (tunnel devices, routes), detached
// from the client: the program keeps running when the client ends, and is found and stopped
// later through EngineProcesses.
namespace ElevatedStart {

struct Result
{
    bool started = false;
    // The system's error number when the start failed (GetLastError, errno); 0 otherwise.
    long errorCode = 0;
    qint64 pid = 0;
};

// Starts `program` with `arguments` elevated and hidden, then waits at most idleWaitMs for it to
// settle. Output goes to `outputFile` (appended) where the platform can redirect it, so that
// the reason of an early end can be read back. A declined elevation prompt is a failed start.
Result start(const QString &program, const QStringList &arguments, const QString &outputFile, int idleWaitMs = 5000);

// True when programs started by this process already have the rights (no prompt needed):
// an elevated (Windows) or root (Linux) client.
bool hasNetworkRights();

} // namespace ElevatedStart
} // namespace Tavrix
