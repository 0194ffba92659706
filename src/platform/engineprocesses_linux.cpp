#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

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
// path as argv[0] when they exec the real engine).
bool startedFrom(const QString &pidDir, const QString &path)
{
    if (QFileInfo(pidDir + QStringLiteral("/exe")).symLinkTarget() == path)
        return true;
    const QStringList args = commandLine(pidDir);
    for (int i = 0; i < qMin(2, args.size()); ++i) {
        if (args.at(i) == path)
            return true;
    }
    return false;
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

QList<qint64> find(const QString &windowsName)
{
    const QString path = QFileInfo(enginePath(windowsName)).absoluteFilePath();
    const qint64 self = ::getpid();
    QList<qint64> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pid == self)
            continue;
        if (startedFrom(QStringLiteral("/proc/") + entry, path) && alive(pid))
            found.append(pid);
    }
    return found;
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
} // namespace Tavrix
