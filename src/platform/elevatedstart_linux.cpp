#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

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

    QProcess process;
    if (hasNetworkRights()) {
        process.setProgram(program);
        process.setArguments(arguments);
    } else {
        // The desktop's authentication agent asks for the administrator password.
        const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
        if (pkexec.isEmpty()) {
            result.errorCode = ENOENT;
            return result;
        }
        process.setProgram(pkexec);
        process.setArguments(QStringList{program} + arguments);
    }
    process.setStandardInputFile(QProcess::nullDevice());
    if (!outputFile.isEmpty()) {
        process.setStandardOutputFile(outputFile, QIODevice::Append);
        process.setStandardErrorFile(outputFile, QIODevice::Append);
    }
    qint64 pid = 0;
    errno = 0;
    if (!process.startDetached(&pid)) {
        result.errorCode = errno != 0 ? errno : ECHILD;
        return result;
    }
    result.started = true;
    result.pid = pid;
    return result;
}

} // namespace ElevatedStart
} // namespace Tavrix
