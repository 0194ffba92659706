#include "helper/childprocess.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTimer>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tavrix {

namespace {

constexpr int keptLines = 8;

// Root-owned and writable by root alone: otherwise whoever may write it runs code as root.
bool safeForRoot(const QString &path)
{
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// QProcess::setupChildProcess runs in the child between fork and execve.
class EngineChild : public QProcess
{
public:
    using QProcess::QProcess;

protected:
    void setupChildProcess() override
    {
        // A group of its own: a terminal's Ctrl+C on a foreground helper does not reach it.
        ::setpgid(0, 0);
        // Should the helper die, its engines end too (SIGTERM: they take their routes down)
        // rather than keep tunnels nobody owns.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        (void)!::chdir("/");
        ::umask(077);
    }
};

} // namespace

ChildProcess::ChildProcess(const QString &tag, QObject *parent)
    : QObject(parent)
    , m_tag(tag)
{
}

ChildProcess::~ChildProcess()
{
    if (isRunning()) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(2000);
    }
}

QString ChildProcess::enginePath(const QString &relativePath, QString *error)
{
    // The helper's own folder, from its executable: nothing a caller or the environment says.
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(relativePath);
    const QFileInfo info(path);
    if (!info.isFile() || !info.isExecutable()) {
        *error = QStringLiteral("the engine %1 is not installed").arg(path);
        return QString();
    }
    if (!safeForRoot(path) || !safeForRoot(info.absolutePath())) {
        *error = QStringLiteral("the engine %1 may be changed by users other than root; refusing to run it").arg(path);
        return QString();
    }
    return path;
}

QString ChildProcess::systemToolPath(const QString &tool, QString *error)
{
    for (const char *folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
        const QString path = QLatin1String(folder) + tool;
        const QFileInfo info(path);
        if (!info.isFile() || !info.isExecutable())
            continue;
        // The resolved file, and its folder, must be root's alone (a merged /usr/bin link is fine).
        const QString target = info.canonicalFilePath();
        if (!safeForRoot(target) || !safeForRoot(QFileInfo(target).absolutePath())) {
            *error = QStringLiteral("%1 may be changed by users other than root; refusing to run it").arg(path);
            return QString();
        }
        return path;
    }
    *error = tool + QStringLiteral(" is not installed");
    return QString();
}

QStringList ChildProcess::fixedEnvironment()
{
    return {QStringLiteral("PATH=/usr/sbin:/usr/bin:/sbin:/bin"), QStringLiteral("LANG=C.UTF-8")};
}

bool ChildProcess::start(const QString &program, const QStringList &arguments, const QStringList &extraEnvironment,
                         QString *error)
{
    if (!QFileInfo(program).isAbsolute()) {
        *error = QStringLiteral("not an absolute path: %1").arg(program);
        return false;
    }
    QProcessEnvironment environment;
    for (const QString &entry : fixedEnvironment() + extraEnvironment) {
        const int eq = entry.indexOf(QLatin1Char('='));
        environment.insert(entry.left(eq), entry.mid(eq + 1));
    }
    m_process = new EngineChild(this);
    // An absolute program with its own environment: QProcess execs exactly this file with
    // exactly these variables (execve), no PATH search.
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setProgram(program);
    m_process->setArguments(arguments);
    connect(m_process, &QProcess::readyRead, this, &ChildProcess::readLines);
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this](int exitCode, QProcess::ExitStatus) {
                readLines();
                const QString rest = QString::fromLocal8Bit(m_process->readAll()).trimmed();
                if (!rest.isEmpty())
                    emit lineRead(rest);
                emit finished(exitCode);
            });
    m_process->start(QIODevice::ReadOnly);
    if (!m_process->waitForStarted(10000)) {
        *error = m_process->errorString();
        m_process->disconnect(this);
        return false;
    }
    m_pid = m_process->processId();
    qInfo().noquote() << m_tag << QStringLiteral("started as pid") << m_pid;
    return true;
}

bool ChildProcess::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

void ChildProcess::stop(int graceMs)
{
    if (!isRunning())
        return;
    // By the pid we started, never by a name.
    ::kill(pid_t(m_pid), SIGTERM);
    QProcess *process = m_process;
    const qint64 pid = m_pid;
    QTimer::singleShot(graceMs, process, [process, pid] {
        if (process->state() != QProcess::NotRunning)
            ::kill(pid_t(pid), SIGKILL);
    });
}

void ChildProcess::readLines()
{
    while (m_process && m_process->canReadLine()) {
        const QString line = QString::fromLocal8Bit(m_process->readLine()).trimmed();
        if (line.isEmpty())
            continue;
        m_lastLines.append(line);
        if (m_lastLines.size() > keptLines)
            m_lastLines.removeFirst();
        qInfo().noquote() << m_tag + QStringLiteral(" > ") + line;
        emit lineRead(line);
    }
}

} // namespace Tavrix
