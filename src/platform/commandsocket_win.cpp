#include <winsock2.h>

#include "platform/commandsocket.h"

namespace Tavrix {

bool setCommandSocketBlocking(intptr_t fd)
{
    u_long mode = 0;
    return ioctlsocket(SOCKET(fd), FIONBIO, &mode) == 0;
}

int sendCommandByte(intptr_t fd, char command)
{
    if (send(SOCKET(fd), &command, 1, 0) == 1)
        return 0;
    return WSAGetLastError();
}

const char *openConnectReportedOs()
{
    return "win";
}

const char *tunScriptName()
{
    return "vpnc-script.js";
}

std::string tunScriptCommand(const std::string &scriptPath)
{
    // The library quotes the script itself when it hands it to the script host.
    return scriptPath;
}

} // namespace Tavrix
