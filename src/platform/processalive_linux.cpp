#include <cerrno>
#include <csignal>
#include <sys/types.h>

#include "platform/processalive.h"

namespace Tavrix {

bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    // Signal 0 only asks; EPERM still means the process is there.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace Tavrix
