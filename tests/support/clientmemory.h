#pragma once

// The real client (build/bin/tavrixvpn) on an X server of its own, signed in by a login link
// against the development service, and its resident memory read from /proc. Header-only: the
// memory test and bench_memory share it.

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include "devservice.h"

namespace TavrixTest {

// Resident set of a process in MB (from smaps_rollup, else status); -1 when unreadable.
inline double residentMb(qint64 pid)
{
    for (const char *file : {"smaps_rollup", "status"}) {
        QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.startsWith("Rss:") || line.startsWith("VmRSS:"))
                return line.simplified().split(' ').value(1).toDouble() / 1024.0;
        }
    }
    return -1;
}

// An Xvfb server on a free display number; stopped with the object.
class XServer
{
public:
    XServer() = default;
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;
    ~XServer() { stop(); }

    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty(); }

    bool start(const QString &screen = QStringLiteral("1280x1024"))
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::SeparateChannels);
        m_process->setStandardErrorFile(QProcess::nullDevice());
        // -displayfd: the server picks a free display and writes its number once it listens.
        m_process->start(QStringLiteral("Xvfb"),
                         {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                          QStringLiteral("0"), screen + QStringLiteral("x24"), QStringLiteral("-nolisten"),
                          QStringLiteral("tcp")});
        if (!m_process->waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!m_process->canReadLine() && !deadline.hasExpired() && m_process->state() == QProcess::Running)
            m_process->waitForReadyRead(200);
        const QByteArray number = m_process->readLine().trimmed();
        if (number.isEmpty()) {
            stop();
            return false;
        }
        m_display = QStringLiteral(":") + QString::fromLatin1(number);
        return true;
    }

    QString display() const { return m_display; }

    void stop()
    {
        if (!m_process)
            return;
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(2000);
        }
        m_process.reset();
    }

private:
    std::unique_ptr<QProcess> m_process;
    QString m_display;
};

// The client process, in folders of its own, signed in with a demo account's login link.
class SignedInClient
{
public:
    SignedInClient() = default;
    SignedInClient(const SignedInClient &) = delete;
    SignedInClient &operator=(const SignedInClient &) = delete;
    ~SignedInClient() { stop(); }

    static QString program() { return QFileInfo(DevService::program()).dir().filePath(QStringLiteral("tavrixvpn")); }

    // display empty: offscreen. Waits (at most timeoutMs) for the sign-in to finish.
    bool start(const DevService &service, const QString &display, int timeoutMs = 40000)
    {
        m_log.clear();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            const QString sub = m_home.path() + QLatin1Char('/') + QString::fromLatin1(name).toLower();
            QDir().mkpath(sub);
            env.insert(QString::fromLatin1(name), sub);
        }
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
        env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        env.insert(QStringLiteral("TAVRIXVPN_SERVICE_URL"), service.url());
        env.insert(QStringLiteral("TAVRIXVPN_SERVICE_CA"), service.caFile());
        env.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
        if (display.isEmpty()) {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        } else {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            env.insert(QStringLiteral("DISPLAY"), display);
        }
        // A private copy: start-up stops engines left running beside the client's own file and
        // forwards to an instance of the same file, so the shared build/bin copy would reach into
        // tests running alongside.
        const QString copy = m_home.filePath(QStringLiteral("bin/tavrixvpn"));
        if (!QFileInfo::exists(copy) &&
            (!QDir().mkpath(m_home.filePath(QStringLiteral("bin"))) || !QFile::copy(program(), copy)))
            return false;
        m_process = std::make_unique<QProcess>();
        m_process->setProcessEnvironment(env);
        m_process->setWorkingDirectory(m_home.path());
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->start(copy,
                         {QStringLiteral("tavrixvpn://login?authenticate=premium@tavrixvpn.test&value=premiumpass1")});
        if (!m_process->waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
            m_process->waitForReadyRead(200);
            m_log += m_process->readAll();
            if (m_log.contains("Auto-login successful"))
                return true;
        }
        return false;
    }

    qint64 pid() const { return m_process ? m_process->processId() : 0; }
    double residentMb() const { return TavrixTest::residentMb(pid()); }
    // What the client printed so far (for a failure message).
    QByteArray log()
    {
        if (m_process)
            m_log += m_process->readAll();
        return m_log;
    }

    // Lets the client run (and keeps reading its output) for ms.
    void idle(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_process && timer.elapsed() < ms) {
            m_process->waitForReadyRead(int(qMin<qint64>(200, ms - timer.elapsed() + 1)));
            m_log += m_process->readAll();
        }
    }

    void stop()
    {
        if (!m_process)
            return;
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(2000);
        }
        m_process.reset();
    }

private:
    QTemporaryDir m_home;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_log;
};

} // namespace TavrixTest
