#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QProcess>

#include <windows.h>

#include "platform/outlinecommands.h"

namespace Tavrix {
namespace OutlineCommands {

namespace {

const QString engineFolder = QStringLiteral("C:\\ProgramData\\TavrixVPN\\");

// Command processors started for the scripts, by script name.
QMutex startedLock;
QList<QPair<QString, qint64>> started;

// The scripts' paths with doubled backslashes, as the command processor has always been given.
QString scriptPath(const QString &windowsName)
{
    return QStringLiteral("C:\\\\ProgramData\\\\TavrixVPN\\\\") + windowsName;
}

Result run(const QString &program, const QStringList &arguments, int timeoutMs, bool mergeErrors)
{
    Result result;
    QProcess process;
    process.setWorkingDirectory(QStringLiteral("C:\\"));
    if (mergeErrors)
        process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(timeoutMs))
        return result;
    result.started = true;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        // Whatever it printed so far still counts.
        result.output = process.readAllStandardOutput();
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.output = process.readAllStandardOutput();
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

} // namespace

bool startTunnelProgram(const QStringList &arguments, const QString &logFile)
{
    QProcess process;
    process.setProgram(engineFolder + QStringLiteral("tun2socks.exe"));
    process.setArguments(arguments);
    const QString output = logFile.isEmpty() ? QProcess::nullDevice() : logFile;
    process.setStandardOutputFile(output, QIODevice::Append);
    process.setStandardErrorFile(output, QIODevice::Append);
    return process.startDetached();
}

bool startScript(const QString &windowsName, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(QStringLiteral("cmd.exe"));
    process.setArguments(QStringList{QStringLiteral("/C"), scriptPath(windowsName)} + arguments);
    process.setWorkingDirectory(QStringLiteral("C:\\"));
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return false;
    QMutexLocker locker(&startedLock);
    started.append({windowsName, pid});
    return true;
}

bool waitForScripts(const QString &windowsName, int timeoutMs)
{
    QList<qint64> pids;
    {
        QMutexLocker locker(&startedLock);
        for (int i = started.size() - 1; i >= 0; --i) {
            if (started.at(i).first == windowsName)
                pids.append(started.takeAt(i).second);
        }
    }
    QDeadlineTimer deadline(timeoutMs);
    bool allEnded = true;
    for (qint64 pid : pids) {
        HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
        if (!handle)
            continue; // already gone
        if (WaitForSingleObject(handle, DWORD(qMax<qint64>(0, deadline.remainingTime()))) != WAIT_OBJECT_0)
            allEnded = false;
        CloseHandle(handle);
    }
    return allEnded;
}

Result runScript(const QString &windowsName, const QStringList &arguments, int timeoutMs)
{
    return run(QStringLiteral("cmd.exe"), QStringList{QStringLiteral("/C"), scriptPath(windowsName)} + arguments,
               timeoutMs, true);
}

Result renewDhcpLease(int timeoutMs)
{
    return run(QStringLiteral("ipconfig"), {QStringLiteral("/renew")}, timeoutMs, false);
}

Result listTunnelPrograms(int timeoutMs)
{
    // Only standard output: "not found" goes to the error stream and means none.
    return run(QStringLiteral("powershell"), {QStringLiteral("-Command"), QStringLiteral("Get-Process tun2socks")},
               timeoutMs, false);
}

} // namespace OutlineCommands
} // namespace Tavrix
