#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/detachedstart_linux.h"
#include "platform/engineprocesses.h"

namespace Tavrix {
namespace EngineProcesses {

namespace {

QStringList commandLine(const QString &pidDir)
{
    QFile file(pidDir + QStringLiteral("/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray raw = file.readAll();
    QStringList parts;
    for (const QByteArray &part : raw.split('\0')) {
        if (!part.isEmpty())
            parts.append(QString::fromLocal8Bit(part));
    }
    return parts;
}

// A process was started from `path` when its executable is that file, or when it is a script
// or an exec'ed engine whose first or second argument names it (the stand-ins keep their own
// path as argv[0] when they exec the real engine). Returns the index in `paths` of the engine
// file the process was started from, or -1.
int startedFromAny(const QString &pidDir, const QStringList &paths)
{
    const int index = paths.indexOf(QFileInfo(pidDir + QStringLiteral("/exe")).symLinkTarget());
    if (index >= 0)
        return index;
    const QStringList args = commandLine(pidDir);
    for (int i = 0; i < qMin(2, args.size()); ++i) {
        const int match = paths.indexOf(args.at(i));
        if (match >= 0)
            return match;
    }
    return -1;
}

bool startedFrom(const QString &pidDir, const QString &path)
{
    return startedFromAny(pidDir, {path}) == 0;
}

bool alive(qint64 pid)
{
    if (::kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    // A zombie has ended; only its parent's wait is missing.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) != "Z";
}

} // namespace

QString enginePath(const QString &windowsName)
{
    QString name = windowsName;
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    else if (name.endsWith(QLatin1String(".bat"), Qt::CaseInsensitive))
        name = name.left(name.size() - 4) + QStringLiteral(".sh");
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

bool startDetached(const QString &windowsName, const QStringList &arguments, const QString &outputFile, qint64 *pid,
                   QString *error)
{
    int errorCode = 0;
    return startDetachedProgram(enginePath(windowsName), arguments, outputFile, false, pid, &errorCode, error);
}

QHash<QString, QList<qint64>> findEach(const QStringList &windowsNames)
{
    QHash<QString, QList<qint64>> found;
    QStringList paths;
    for (const QString &name : windowsNames) {
        found.insert(name, {});
        paths.append(QFileInfo(enginePath(name)).absoluteFilePath());
    }
    const qint64 self = ::getpid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pid == self)
            continue;
        const int index = startedFromAny(QStringLiteral("/proc/") + entry, paths);
        if (index >= 0 && alive(pid))
            found[windowsNames.at(index)].append(pid);
    }
    return found;
}

QList<qint64> find(const QString &windowsName)
{
    return findEach({windowsName}).value(windowsName);
}

bool isRunning(const QString &windowsName, qint64 pid)
{
    const QString path = QFileInfo(enginePath(windowsName)).absoluteFilePath();
    const QString pidDir = QStringLiteral("/proc/%1").arg(pid);
    if (pid <= 0 || !alive(pid))
        return false;
    // The pid we started, in the middle of an exec (a stand-in script handing over to the
    // engine) shows no command line for that moment: still ours, not ended.
    return startedFrom(pidDir, path) || commandLine(pidDir).isEmpty();
}

QString describe(const QString &windowsName)
{
    QString lines;
    for (qint64 pid : find(windowsName)) {
        lines += QString::number(pid) + QLatin1Char(' ') +
                 commandLine(QStringLiteral("/proc/%1").arg(pid)).join(QLatin1Char(' ')) + QLatin1Char('\n');
    }
    return lines;
}

int stop(const QString &windowsName, int graceMs)
{
    const QList<qint64> pids = find(windowsName);
    if (pids.isEmpty())
        return 128;
    for (qint64 pid : pids)
        ::kill(static_cast<pid_t>(pid), SIGTERM);
    QElapsedTimer timer;
    timer.start();
    QList<qint64> left = pids;
    while (!left.isEmpty()) {
        left.erase(std::remove_if(left.begin(), left.end(), [](qint64 pid) { return !alive(pid); }), left.end());
        if (left.isEmpty() || timer.elapsed() >= graceMs)
            break;
        QThread::msleep(20);
    }
    for (qint64 pid : left)
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    return 0;
}

} // namespace EngineProcesses

bool startDetachedProgram(const QString &path, const QStringList &arguments, const QString &outputFile, bool append,
                          qint64 *pid, int *errorCode, QString *error)
{
    // Everything the children need is made before forking: between fork and exec only
    // async-signal-safe calls.
    QList<QByteArray> words{QFile::encodeName(path)};
    for (const QString &argument : arguments)
        words.append(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const QByteArray outputPath = QFile::encodeName(outputFile);
    const int output =
        outputFile.isEmpty()
            ? ::open("/dev/null", O_WRONLY | O_CLOEXEC)
            : ::open(outputPath.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0600);
    const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int report[2];
    if (output < 0 || input < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
        *errorCode = errno;
        *error = QStringLiteral("cannot prepare the engine's start: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        if (output >= 0)
            ::close(output);
        if (input >= 0)
            ::close(input);
        return false;
    }

    // Forked twice, so that init adopts the engine and no zombie is left to us; no new
    // session, only a process group of its own (a terminal's Ctrl+C does not reach it).
    const pid_t child = ::fork();
    if (child == 0) {
        const pid_t engine = ::fork();
        if (engine == 0) {
            ::setpgid(0, 0);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::dup2(input, STDIN_FILENO);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
            ::execv(argv[0], argv.data());
            const int failure = errno;
            (void)!::write(report[1], &failure, sizeof failure);
            ::_exit(127);
        }
        (void)!::write(report[1], &engine, sizeof engine);
        ::_exit(engine > 0 ? 0 : 1);
    }
    ::close(report[1]);
    ::close(output);
    ::close(input);
    if (child < 0) {
        *errorCode = errno;
        ::close(report[0]);
        *error = QStringLiteral("cannot start the engine: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    // The engine's id, then either the end of the pipe (exec worked) or exec's error.
    pid_t engine = -1;
    int failure = 0;
    const bool gotPid = ::read(report[0], &engine, sizeof engine) == sizeof engine && engine > 0;
    ssize_t got;
    while ((got = ::read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (!gotPid) {
        *errorCode = ECHILD;
        *error = QStringLiteral("cannot start the engine");
        return false;
    }
    if (got == sizeof failure) {
        *errorCode = failure;
        *error =
            QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(argv[0]), QString::fromLocal8Bit(strerror(failure)));
        return false;
    }
    *pid = engine;
    return true;
}
} // namespace Tavrix
