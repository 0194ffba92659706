#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QProcess>
#include <QThread>

#include "platform/engineprocesses.h"
#include "platform/outlinecommands.h"

namespace Tavrix {
namespace OutlineCommands {

namespace {

// The stand-ins beside the executable. The controller may be destroyed after the
// application object (its last runner then still runs disconnect.sh), so the folder also
// comes from the executable itself.
QString enginePath(const QString &windowsName)
{
    if (QCoreApplication::instance())
        return EngineProcesses::enginePath(windowsName);
    QString name = windowsName;
    if (name.endsWith(QLatin1String(".bat")))
        name = name.left(name.size() - 4) + QStringLiteral(".sh");
    else if (name.endsWith(QLatin1String(".exe")))
        name.chop(4);
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QFileInfo(program).absolutePath() + QLatin1Char('/') + name;
}

// The state letter and start time (clock ticks since boot) of a process; empty once gone.
struct ProcessStat
{
    char state = 0;
    QByteArray startTime;
};

ProcessStat processStat(qint64 pid)
{
    ProcessStat result;
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QByteArray line = file.read(1024);
    const int end = line.lastIndexOf(')');
    if (end < 0)
        return result;
    // Fields after the name: state is the 3rd of the line, the start time the 22nd.
    const QList<QByteArray> fields = line.mid(end + 2).split(' ');
    if (fields.size() > 19 && !fields.at(0).isEmpty()) {
        result.state = fields.at(0).at(0);
        result.startTime = fields.at(19);
    }
    return result;
}

// Scripts started detached, by script name, for waitForScripts(): the pid with its start
// time, so that a later process given the same pid is not taken for the script.
struct StartedScript
{
    QString name;
    qint64 pid = 0;
    QByteArray startTime;
};
QMutex startedLock;
QList<StartedScript> started;

// Ended: gone, or a zombie (a detached program waits for init to reap it, which may take a
// while; it has done all its work by then).
bool ended(const StartedScript &script)
{
    const ProcessStat stat = processStat(script.pid);
    return stat.state == 0 || stat.state == 'Z' || stat.startTime != script.startTime;
}

bool startDetached(const QString &program, const QStringList &arguments, const QString &logFile, qint64 *pid = nullptr)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(QStringLiteral("/"));
    process.setStandardInputFile(QProcess::nullDevice());
    const QString output = logFile.isEmpty() ? QProcess::nullDevice() : logFile;
    process.setStandardOutputFile(output, QIODevice::Append);
    process.setStandardErrorFile(output, QIODevice::Append);
    return process.startDetached(pid);
}

} // namespace

bool startTunnelProgram(const QStringList &arguments, const QString &logFile)
{
    return startDetached(enginePath(QStringLiteral("tun2socks.exe")), arguments, logFile);
}

bool startScript(const QString &windowsName, const QStringList &arguments)
{
    qint64 pid = 0;
    if (!startDetached(enginePath(windowsName), arguments, QString(), &pid))
        return false;
    const ProcessStat stat = processStat(pid);
    // Already over when there is none to read.
    if (stat.state == 0 || stat.state == 'Z')
        return true;
    QMutexLocker locker(&startedLock);
    started.append({windowsName, pid, stat.startTime});
    return true;
}

bool waitForScripts(const QString &windowsName, int timeoutMs)
{
    // Every waiter waits for all of them: a connect given up while it waited must not take
    // the scripts out of the list for the next one, which would then start its tunnel while
    // a clean-up still runs and takes it down.
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        bool running = false;
        {
            QMutexLocker locker(&startedLock);
            for (int i = started.size() - 1; i >= 0; --i) {
                if (ended(started.at(i)))
                    started.removeAt(i);
                else if (started.at(i).name == windowsName)
                    running = true;
            }
        }
        if (!running)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

Result runScript(const QString &windowsName, const QStringList &arguments, int timeoutMs)
{
    Result result;
    QProcess process;
    process.setWorkingDirectory(QStringLiteral("/"));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(enginePath(windowsName), arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(timeoutMs)) {
        result.output = process.errorString().toLocal8Bit();
        return result;
    }
    result.started = true;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(1000);
    }
    result.output = process.readAll();
    if (result.finished && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

Result renewDhcpLease(int timeoutMs)
{
    Q_UNUSED(timeoutMs)
    // The tunnel here needs no new lease: the addresses stay as they are.
    Result result;
    result.started = true;
    result.finished = true;
    result.exitCode = 0;
    return result;
}

Result listTunnelPrograms(int timeoutMs)
{
    Q_UNUSED(timeoutMs)
    Result result;
    result.started = true;
    result.finished = true;
    result.exitCode = 0;
    result.output = EngineProcesses::describe(QStringLiteral("tun2socks.exe")).toLocal8Bit();
    return result;
}

} // namespace OutlineCommands
} // namespace Tavrix
