#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/commandsocket.h"

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
    // The descriptor is a pipe: a write after the library closed its end would raise
    // SIGPIPE and end the program. Hold the signal back for this write and swallow it.
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);

    int error = 0;
    for (;;) {
        const ssize_t written = write(int(fd), &command, 1);
        if (written == 1)
            break;
        if (written < 0 && errno == EINTR)
            continue;
        error = written < 0 ? errno : EIO;
        break;
    }
    if (error == EPIPE) {
        const timespec immediately{0, 0};
        sigtimedwait(&pipeSignal, nullptr, &immediately);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return error;
}

const char *openConnectReportedOs()
{
    return "linux-64";
}

const char *tunScriptName()
{
    return "vpnc-script";
}

namespace {

// One shell word, taken literally whatever it contains.
std::string shellQuoted(const std::string &text)
{
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

} // namespace

std::string tunScriptCommand(const std::string &scriptPath, const std::string &logFolder)
{
    // The library runs "/bin/sh -c <command>": quote the paths so that spaces and shell
    // characters in the installation folder are taken literally.
    std::string command;
    if (!logFolder.empty())
        command = "TAVRIXVPN_LOG_DIR=" + shellQuoted(logFolder) + " ";
    return command + shellQuoted(scriptPath);
}

bool isStreamSocket(intptr_t fd)
{
    int type = 0;
    socklen_t length = sizeof type;
    return getsockopt(int(fd), SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

} // namespace Tavrix
