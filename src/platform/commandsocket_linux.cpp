#include "platform/commandsocket.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Tavrix {

bool setCommandSocketBlocking(intptr_t fd)
{
    const int flags = fcntl(int(fd), F_GETFL);
    if (flags < 0)
        return false;
    return fcntl(int(fd), F_SETFL, flags & ~O_NONBLOCK) == 0;
}

int sendCommandByte(intptr_t fd, char command)
{
    for (;;) {
        const ssize_t written = write(int(fd), &command, 1);
        if (written == 1)
            return 0;
        if (written < 0 && errno == EINTR)
            continue;
        return written < 0 ? errno : EIO;
    }
}

const char *openConnectReportedOs()
{
    return "linux-64";
}

const char *tunScriptName()
{
    return "vpnc-script";
}

} // namespace Tavrix
