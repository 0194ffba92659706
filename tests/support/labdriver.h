#pragma once

// The test side of a driver program (driverloop.h) running inside the client namespace of a
// NetnsLab: commands go to its standard input, its report lines (READY, STATUS <n> <ms>,
// LOG <text>, EXIT and whatever the program adds) come back on its standard output.
// SessionClient, OutlineDriver and ProxyClient are this with their own commands.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>

#include "netns.h"

namespace TavrixTest {

class LabDriver
{
public:
    LabDriver(const LabDriver &) = delete;
    LabDriver &operator=(const LabDriver &) = delete;

    // Ends the program the way the application ends (its controller is destroyed), then
    // stops it should it hang.
    virtual ~LabDriver()
    {
        if (m_process) {
            quit();
            m_lab.stop(m_process);
        }
    }

    // Folder of the built programs and stand-ins (build/bin).
    static QString buildBinDir()
    {
        return qEnvironmentVariableIsSet("TAVRIX_BIN_DIR") ? qEnvironmentVariable("TAVRIX_BIN_DIR")
                                                           : QCoreApplication::applicationDirPath();
    }

    bool isRunning() const { return m_process && m_process->state() == QProcess::Running; }
    // The program's /proc/<pid>/status (its user and capabilities).
    QByteArray processStatus() const
    {
        QFile file(QStringLiteral("/proc/%1/status").arg(m_process ? m_process->processId() : 0));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A folder of this driver's own, removed with it.
    QString home() const { return m_home.path(); }

    void send(const QString &command)
    {
        m_process->write(command.toUtf8() + '\n');
        m_process->waitForBytesWritten(2000);
    }

    bool quit()
    {
        if (!isRunning())
            return true;
        send(QStringLiteral("quit"));
        const bool ended = m_process->waitForFinished(10000);
        readPending();
        return ended;
    }

    bool waitForExit(int timeoutMs)
    {
        return m_process->state() == QProcess::NotRunning || m_process->waitForFinished(timeoutMs);
    }

    // Waits for a line starting with prefix after the ones already consumed; returns it (empty
    // on time-out; a negative time-out is the driver's own).
    QString waitFor(const QString &prefix, int timeoutMs = -1)
    {
        QDeadlineTimer deadline(timeoutMs < 0 ? m_timeoutMs : timeoutMs);
        for (;;) {
            while (m_next < m_lines.size()) {
                const QString line = m_lines.at(m_next++);
                if (line.startsWith(prefix))
                    return line;
            }
            if (deadline.hasExpired() || !readMore(deadline))
                return QString();
        }
    }

    // Lines read so far; with lineSince, a line that may come before or after others.
    int mark() const { return m_lines.size(); }
    QString lineSince(int mark, const QString &prefix, int timeoutMs = -1)
    {
        QDeadlineTimer deadline(timeoutMs < 0 ? m_timeoutMs : timeoutMs);
        for (int i = mark;; ++i) {
            while (i >= m_lines.size()) {
                if (deadline.hasExpired() || !readMore(deadline))
                    return QString();
            }
            if (m_lines.at(i).startsWith(prefix))
                return m_lines.at(i);
        }
    }

    // Statuses reported from now until one of the final ones arrives; *ms (and lastStatusMs)
    // the milliseconds from the last command to the last of them.
    QList<int> statusesUntil(const QList<int> &final, int timeoutMs = -1, qint64 *ms = nullptr)
    {
        QList<int> seen;
        QDeadlineTimer deadline(timeoutMs < 0 ? m_timeoutMs : timeoutMs);
        for (;;) {
            const QString line = waitFor(QStringLiteral("STATUS "), int(qMax<qint64>(0, deadline.remainingTime())));
            if (line.isEmpty())
                return seen;
            seen.append(line.section(QLatin1Char(' '), 1, 1).toInt());
            m_lastStatusMs = line.section(QLatin1Char(' '), 2, 2).toInt();
            if (ms)
                *ms = m_lastStatusMs;
            if (final.contains(seen.last()))
                return seen;
        }
    }
    int lastStatusMs() const { return m_lastStatusMs; }

    // Sends "connect": the statuses up to CONNECTED or IDLE.
    QList<int> connectVpn(int timeoutMs = -1)
    {
        send(QStringLiteral("connect"));
        return statusesUntil({0, 2}, timeoutMs);
    }
    QList<int> connectVpn(qint64 *ms)
    {
        send(QStringLiteral("connect"));
        return statusesUntil({0, 2}, -1, ms);
    }

    // Sends "disconnect": the statuses up to IDLE.
    QList<int> disconnectVpn()
    {
        send(QStringLiteral("disconnect"));
        return statusesUntil({0});
    }

    // Everything the program logged so far (what it wrote by now taken in first).
    QStringList logLines() const
    {
        const_cast<LabDriver *>(this)->readPending();
        QStringList result;
        for (const QString &line : m_lines) {
            if (line.startsWith(QLatin1String("LOG ")))
                result.append(line.mid(4));
        }
        return result;
    }
    bool logged(const QString &text) const
    {
        for (const QString &line : logLines()) {
            if (line.contains(text))
                return true;
        }
        return false;
    }
    QString logDump() const { return logLines().join(QLatin1Char('\n')); }

protected:
    // settleMs: how long the log is given to go quiet before it is read (0: not at all), for
    // lines a program writes after the status they belong to.
    LabDriver(NetnsLab &lab, int timeoutMs, int settleMs)
        : m_lab(lab)
        , m_timeoutMs(timeoutMs)
        , m_settleMs(settleMs)
    {
    }

    // The environment with XDG folders of the driver's own (its settings, engine folder and
    // system proxy record apart from the test's).
    QProcessEnvironment privateXdg() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            const QString sub = m_home.path() + QLatin1Char('/') + QString::fromLatin1(name).toLower();
            QDir().mkpath(sub);
            environment.insert(QString::fromLatin1(name), sub);
        }
        return environment;
    }

    // Starts the program in the client namespace; true once it said READY.
    // `user`: run as that ordinary user with no capability (its own folder handed over to it),
    // as from a desktop session: the bounding set stays whole there, so programs the system
    // gave a file capability (Debian's v2ray: binding low ports) still start; empty: as the
    // test's own user.
    bool launch(const QStringList &command, const QProcessEnvironment &environment, const QString &user = QString())
    {
        QStringList full = command;
        if (!user.isEmpty()) {
            const passwd *entry = getpwnam(user.toLocal8Bit().constData());
            if (!entry)
                return false;
            const auto handOver = [entry](const QString &path) {
                return ::chown(QFile::encodeName(path).constData(), entry->pw_uid, entry->pw_gid) == 0;
            };
            bool handed = handOver(m_home.path());
            QDirIterator files(m_home.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                               QDirIterator::Subdirectories);
            while (handed && files.hasNext())
                handed = handOver(files.next());
            if (!handed)
                return false;
            full = QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=%1").arg(entry->pw_uid),
                               QStringLiteral("--regid=%1").arg(entry->pw_gid), QStringLiteral("--clear-groups"),
                               QStringLiteral("--inh-caps=-all")} +
                   command;
        }
        QProcessEnvironment world = environment;
        if (!user.isEmpty())
            world.insert(QStringLiteral("HOME"), m_home.path());
        m_process = m_lab.start(m_lab.clientNs(), full, QString(), world);
        return m_process && !waitFor(QStringLiteral("READY")).isEmpty();
    }

    NetnsLab &m_lab;

private:
    // Takes in what the program has written by now (nothing reads its pipe in between), and
    // what follows within the settle time of a quiet pipe (at most a second).
    void readPending()
    {
        if (!m_process)
            return;
        const QDeadlineTimer deadline(m_settleMs > 0 ? 1000 : 100);
        while (m_process->state() == QProcess::Running && !deadline.hasExpired() &&
               m_process->waitForReadyRead(m_settleMs)) {
        }
        while (m_process->canReadLine())
            m_lines.append(QString::fromUtf8(m_process->readLine()).trimmed());
    }

    bool readMore(const QDeadlineTimer &deadline)
    {
        if (!m_process->canReadLine() && !m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return m_process->canReadLine();
        while (m_process->canReadLine())
            m_lines.append(QString::fromUtf8(m_process->readLine()).trimmed());
        return true;
    }

    QTemporaryDir m_home;
    QProcess *m_process = nullptr;
    QStringList m_lines;
    int m_next = 0;
    int m_timeoutMs;
    int m_settleMs;
    int m_lastStatusMs = -1;
};

} // namespace TavrixTest
