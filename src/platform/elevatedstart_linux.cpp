#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/elevatedstart.h"

namespace Tavrix {
namespace ElevatedStart {

namespace {

bool capabilities(__user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
}

bool holdsNetAdmin()
{
    __user_cap_data_struct data[2] = {};
    return capabilities(data) && (data[0].effective & (1u << CAP_NET_ADMIN)) != 0;
}

// A capability the client got from its file is not passed on by exec on its own: it must be
// inheritable and ambient in the starting thread (the fork happens on this thread).
void passNetAdminToChildren()
{
    __user_cap_data_struct data[2] = {};
    if (!capabilities(data) || !(data[0].permitted & (1u << CAP_NET_ADMIN)))
        return;
    data[0].inheritable |= 1u << CAP_NET_ADMIN;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    if (syscall(SYS_capset, &header, data) == 0)
        prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_ADMIN, 0, 0);
}

} // namespace

bool hasNetworkRights()
{
    return geteuid() == 0 || holdsNetAdmin();
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
        if (geteuid() != 0)
            passNetAdminToChildren();
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
