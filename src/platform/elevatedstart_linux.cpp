#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

#include "platform/detachedstart_linux.h"
#include "platform/elevatedstart.h"

namespace Tavrix {
namespace ElevatedStart {

bool hasNetworkRights()
{
    // The capability alone is not enough here: wg-quick insists on root (it turns to sudo
    // otherwise), and wireguard-go's control sockets live in a folder only root may write.
    return geteuid() == 0;
}

Result start(const QString &program, const QStringList &arguments, const QString &outputFile, int idleWaitMs)
{
    // A console program has no input-idle state to wait for; the caller checks the outcome.
    Q_UNUSED(idleWaitMs)
    Result result;
    const QFileInfo info(program);
    if (!info.exists()) {
        result.errorCode = ENOENT;
        return result;
    }
    if (!info.isExecutable()) {
        result.errorCode = EACCES;
        return result;
    }

    // A desktop user's tunnels go through the privileged helper; only a root client (tests, a
    // root demo) starts the program itself. No password prompt, no setuid launcher.
    if (!hasNetworkRights()) {
        result.errorCode = EPERM;
        return result;
    }
    const QString path = program;
    const QStringList &words = arguments;
    // Not QProcess::startDetached: its new session would be a scheduling group of its own.
    qint64 pid = 0;
    int errorCode = 0;
    QString error;
    if (!startDetachedProgram(path, words, outputFile, true, &pid, &errorCode, &error)) {
        result.errorCode = errorCode != 0 ? errorCode : ECHILD;
        return result;
    }
    result.started = true;
    result.pid = pid;
    return result;
}

} // namespace ElevatedStart
} // namespace Tavrix
