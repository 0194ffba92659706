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

std::string tunScriptCommand(const std::string &scriptPath, const std::string &logFolder)
{
    // The library quotes the script itself when it hands it to the script host, which takes
    // no environment here: the script logs below the user's own %TEMP%, which other users
    // cannot enter.
    (void)logFolder;
    return scriptPath;
}

bool isStreamSocket(intptr_t fd)
{
    int type = 0;
    int length = sizeof type;
    return getsockopt(SOCKET(fd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char *>(&type), &length) == 0 &&
           type == SOCK_STREAM;
}

} // namespace Tavrix
