#pragma once

// Drives the OpenConnect client program (tavrix-session-client) inside the client namespace
// of a NetnsLab, through its standard streams. Shared by the end-to-end test and the
// benchmark.

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include "netns.h"

namespace TavrixTest {

// One client program inside the client namespace, talked to through its standard streams.
class SessionClient
{
public:
    static constexpr int defaultTimeoutMs = 20000;

    // wrapper: a command the client program is started through (its last argument).
    // dataDir: the client's data folder (its stored server keys); its own empty one by default.
    SessionClient(NetnsLab &lab, const QString &user, const QString &password, const QStringList &wrapper = {},
                  const QString &dataDir = QString())
        : m_lab(lab)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The session's private folders are made in this run's own temporary folder.
        environment.insert(QStringLiteral("TMPDIR"), m_tmp.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_tmp.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"),
                           dataDir.isEmpty() ? m_tmp.path() + QStringLiteral("/data") : dataDir);
        m_process = lab.start(lab.clientNs(), wrapper + QStringList{programPath()}, QString(), environment);
        if (m_process && !waitFor(QStringLiteral("READY")).isEmpty()) {
            send(QStringLiteral("host ") + QString::fromLatin1(NetnsLab::serverAddress) + QStringLiteral(":") +
                 QString::number(OcservServer::port));
            send(QStringLiteral("user ") + user);
            send(QStringLiteral("pass ") + password);
        }
    }

    // The client program lives beside the client (and its tunnel script).
    static QString programPath()
    {
        const QString dir = qEnvironmentVariableIsSet("TAVRIX_BIN_DIR") ? qEnvironmentVariable("TAVRIX_BIN_DIR")
                                                                        : QCoreApplication::applicationDirPath();
        return dir + QStringLiteral("/tavrix-session-client");
    }

    ~SessionClient()
    {
        if (m_process) {
            send(QStringLiteral("quit"));
            m_process->waitForFinished(10000);
            m_lab.stop(m_process);
        }
    }

    QString tmpDir() const { return m_tmp.path(); }

    bool waitForExit(int timeoutMs)
    {
        return m_process->state() == QProcess::NotRunning || m_process->waitForFinished(timeoutMs);
    }

    bool isRunning() const { return m_process && m_process->state() == QProcess::Running; }

    void send(const QString &command)
    {
        m_process->write(command.toUtf8() + '\n');
        m_process->waitForBytesWritten(2000);
    }

    // Waits for a line starting with prefix after the ones already consumed; returns it.
    QString waitFor(const QString &prefix, int timeoutMs = SessionClient::defaultTimeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
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

    // Sends "connect": the statuses up to CONNECTED or IDLE.
    QList<int> connectVpn()
    {
        send(QStringLiteral("connect"));
        return statusesUntil({0, 2});
    }

    // Sends "disconnect": the statuses up to IDLE.
    QList<int> disconnectVpn()
    {
        send(QStringLiteral("disconnect"));
        return statusesUntil({0});
    }

    // A TCP round trip from the client namespace: "PROBE ok" or "PROBE fail ...".
    QString probe(const QString &address, int port)
    {
        send(QStringLiteral("probe %1 %2").arg(address).arg(port));
        return waitFor(QStringLiteral("PROBE "));
    }

    // Statuses reported from now until one of the final ones arrives.
    QList<int> statusesUntil(const QList<int> &final, int timeoutMs = SessionClient::defaultTimeoutMs)
    {
        QList<int> seen;
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const QString line = waitFor(QStringLiteral("STATUS "), int(deadline.remainingTime()));
            if (line.isEmpty())
                return seen;
            seen.append(line.section(QLatin1Char(' '), 1, 1).toInt());
            if (final.contains(seen.last()))
                return seen;
        }
    }

    QStringList logLines() const
    {
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

private:
    bool readMore(const QDeadlineTimer &deadline)
    {
        if (!m_process->canReadLine() && !m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return m_process->canReadLine();
        while (m_process->canReadLine())
            m_lines.append(QString::fromUtf8(m_process->readLine()).trimmed());
        return true;
    }

    NetnsLab &m_lab;
    QTemporaryDir m_tmp;
    QProcess *m_process = nullptr;
    QStringList m_lines;
    int m_next = 0;
};

} // namespace TavrixTest
