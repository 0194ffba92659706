#include "protection/crashrecovery.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInterface>
#include <QPointer>
#include <QSaveFile>
#include <QThread>

#include <utility>

#include "common/config.h"
#include "platform/engineprocesses.h"
#include "platform/outlinecommands.h"
#include "platform/paths.h"
#include "platform/splitter.h"
#include "platform/systemproxy.h"
#include "platform/tunnelscriptstate.h"
#include "protection/killswitch.h"
#include "vpn/wireguard.h"
#include "vpn/xrayengine.h"

namespace Tavrix {
namespace CrashRecovery {

namespace {

// disconnect.bat stops tun2socks itself (which takes its table and interface down on the way
// out) and then removes what a killed one left; it normally ends within a second.
constexpr int outlineCleanUpWaitMs = 20000;
constexpr int splitterStopWaitMs = 5000;
const QString outlineProgram = QStringLiteral("tun2socks.exe");
// The name the Outline tunnel gives its interface.
const QString outlineInterface = QStringLiteral("TavrixVPN");

struct Engine
{
    const char *windowsName;
    const char *label;
};

// The engines that run outside the client and outlive it. OpenConnect runs inside the
// client: its tunnel device goes with the process.
const Engine engines[] = {
    {"openvpn.exe", "OpenVPN"},
    {"Xray/xray.exe", "the proxy engine (Xray)"},
    {"wireguard/wireguard-client.exe", "the WireGuard client"},
};

QString noted(const QString &what)
{
    qWarning().noquote() << "Cleaned up after the last run:" << what;
    return what;
}

QString pidList(const QList<qint64> &pids)
{
    QStringList words;
    for (qint64 pid : pids)
        words << QString::number(pid);
    return words.join(QLatin1Char(' '));
}

// The process id of the client that ran last, kept so that the next start can find what the
// in-process tunnel's script saved under it.
QString lastRunFile()
{
    return engineFolder() + QStringLiteral("last-run.pid");
}

qint64 swapLastRunPid()
{
    QFile previous(lastRunFile());
    const qint64 pid = previous.open(QIODevice::ReadOnly) ? previous.readAll().trimmed().toLongLong() : 0;
    previous.close();
    QSaveFile current(lastRunFile());
    if (current.open(QIODevice::WriteOnly)) {
        current.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        current.commit();
    }
    return pid == QCoreApplication::applicationPid() ? 0 : pid;
}

bool outlineInterfaceExists()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        if (interface.name() == outlineInterface || interface.humanReadableName() == outlineInterface)
            return true;
    }
    return false;
}

// Off the window's thread: no settings, only processes, scripts and files of ours.
class Recovery
{
public:
    Recovery(bool endedConnected, bool splitTunnelEnabled)
        : m_endedConnected(endedConnected)
        , m_splitTunnelEnabled(splitTunnelEnabled)
    {
    }

    QStringList run()
    {
        // One look at the process list for all of them: this runs at every start.
        QStringList names{outlineProgram, Splitter::controlImageName()};
        for (const Engine &engine : engines)
            names << QString::fromLatin1(engine.windowsName);
        m_running = EngineProcesses::findEach(names);

        for (const Engine &engine : engines)
            stopLeftover(QString::fromLatin1(engine.windowsName), QString::fromLatin1(engine.label));
        restoreTunnelScriptState(swapLastRunPid());
        takeDownOutline();
        removeWireGuardKeyFile();
        stopSplitTunnel();
        clearSystemProxy();
        return m_cleaned;
    }

private:
    void note(const QString &what) { m_cleaned << noted(what); }

    void stopLeftover(const QString &windowsName, const QString &label)
    {
        const QList<qint64> pids = m_running.value(windowsName);
        if (pids.isEmpty())
            return;
        qWarning().noquote() << QStringLiteral("Found %1 still running from the last run (process %2); stopping it")
                                    .arg(label, pidList(pids));
        EngineProcesses::stop(windowsName);
        const QList<qint64> left = EngineProcesses::find(windowsName);
        if (!left.isEmpty())
            qWarning().noquote() << QStringLiteral("Could not stop %1 (process %2)").arg(label, pidList(left));
        note(QStringLiteral("%1 left running (process %2)").arg(label, pidList(pids)));
    }

    void restoreTunnelScriptState(qint64 pid)
    {
        const QStringList restored = TunnelScriptState::restoreAfterSession(pid);
        for (const QString &what : restored)
            note(what + QStringLiteral(" (changed for the OpenConnect session of process %1)").arg(pid));
    }

    void takeDownOutline()
    {
        const QList<qint64> pids = m_running.value(outlineProgram);
        const bool interface = outlineInterfaceExists();
        if (pids.isEmpty() && !interface)
            return;
        qWarning().noquote() << QStringLiteral("Found the Outline tunnel of the last run (%1); taking it down")
                                    .arg(pids.isEmpty() ? QStringLiteral("interface %1").arg(outlineInterface)
                                                        : QStringLiteral("tun2socks process %1").arg(pidList(pids)));
        const OutlineCommands::Result result =
            OutlineCommands::runScript(QStringLiteral("disconnect.bat"), {}, outlineCleanUpWaitMs);
        if (!result.finished || result.exitCode != 0)
            qWarning().noquote() << "disconnect.bat failed (exit code" << result.exitCode
                                 << "):" << QString::fromLocal8Bit(result.output).trimmed();
        // The script may be missing or may not have got them all.
        if (!pids.isEmpty() && !EngineProcesses::find(outlineProgram).isEmpty())
            EngineProcesses::stop(outlineProgram);
        note(pids.isEmpty() ? QStringLiteral("the Outline tunnel interface %1").arg(outlineInterface)
                            : QStringLiteral("the Outline tunnel (tun2socks process %1)").arg(pidList(pids)));
    }

    void removeWireGuardKeyFile()
    {
        // It holds the private key and must live no longer than its tunnel.
        const QString path = Wireguard::configFilePath();
        if (QFile::exists(path) && QFile::remove(path))
            note(QStringLiteral("the WireGuard configuration file %1").arg(path));
    }

    void stopSplitTunnel()
    {
        const QString control = Splitter::controlImageName();
        const QList<qint64> pids = m_running.value(control);
        // Bypass rules are only in place while connected.
        if (pids.isEmpty() && !(m_endedConnected && m_splitTunnelEnabled))
            return;
        if (!pids.isEmpty())
            EngineProcesses::stop(control, 2000);
        Splitter::stopService(splitterStopWaitMs);
        note(pids.isEmpty()
                 ? QStringLiteral("the split-tunnel rules")
                 : QStringLiteral("the split-tunnel control program (process %1) and its rules").arg(pidList(pids)));
    }

    void clearSystemProxy()
    {
        // After the proxy engine is stopped: a proxy pointing at no engine cuts the desktop off,
        // and the user's own proxy settings saved at switch-on are still to be put back.
        if (!Xray::proxyIsOurs() && !SystemProxy::hasSavedSettings())
            return;
        Xray::clearStaleSystemProxy();
        if (!Xray::proxyIsOurs())
            note(QStringLiteral("the system proxy (%1)").arg(Xray::proxyServer()));
    }

    const bool m_endedConnected;
    const bool m_splitTunnelEnabled;
    QHash<QString, QList<qint64>> m_running; // engine file -> processes found at the start
    QStringList m_cleaned;
};

struct State
{
    QThread *thread = nullptr;
    bool running = false;
    bool endedConnected = false;
    QElapsedTimer timer;
    // Written by the thread, read after it has finished.
    QStringList cleaned;
    QList<QPair<QPointer<QObject>, std::function<void()>>> waiters;
};

State &state()
{
    static State s;
    return s;
}

void finish()
{
    State &s = state();
    qDebug().noquote() << QStringLiteral("Start-up clean-up: %1 ms").arg(s.timer.elapsed());
    if (!s.cleaned.isEmpty())
        qWarning().noquote() << QStringLiteral("Cleaned up what the last run left behind in %1 ms (%2 cleaned)")
                                    .arg(s.timer.elapsed())
                                    .arg(s.cleaned.size());
    else
        qDebug().noquote()
            << QStringLiteral("Nothing left behind by the last run (checked in %1 ms)").arg(s.timer.elapsed());
    s.running = false;
    const auto waiters = std::exchange(s.waiters, {});
    for (const auto &waiter : waiters) {
        if (waiter.first)
            waiter.second();
    }
}

// Back on the window's thread: the kill switch as the settings ask now (the switch may have
// been pressed meanwhile), queued with the switch's own scripts so that none overtakes it.
void applyKillSwitch()
{
    State &s = state();
    auto config = Config::instance();
    config->load();
    const bool on = config->killSwitch();
    const bool uncleanEnd = s.endedConnected || !s.cleaned.isEmpty();
    if (on) {
        // No tunnel is up yet: the block holds until the next connect lifts it. A client
        // killed while connected left the firewall open for its tunnel.
        qDebug() << "Kill switch is on and no tunnel is up: blocking traffic outside the tunnel";
    } else if (uncleanEnd) {
        // A block left by an end in the middle of a log-out or a switch change.
        qDebug() << "Kill switch is off: removing any firewall block left by the last run";
    } else {
        finish();
        return;
    }
    KillSwitch::queueStage(KillSwitch::Stage::Idle, qApp, [on, uncleanEnd](bool ok, const QString &) {
        if (on && ok && uncleanEnd)
            state().cleaned << noted(QStringLiteral("the firewall, blocked again (kill switch on)"));
        finish();
    });
}

} // namespace

void start()
{
    State &s = state();
    if (s.running)
        return;
    s.running = true;
    s.timer.start();
    s.cleaned.clear();
    auto config = Config::instance();
    // Only a client that was still connected when it ended leaves this set.
    s.endedConnected = config->connectionState();
    if (s.endedConnected) {
        qWarning() << "Clearing a stale connection state from the last run";
        config->setConnectionState(false);
        config->save();
    }
    const bool endedConnected = s.endedConnected;
    const bool splitTunnelEnabled = Config::isSplitTunnelEnabled();
    s.thread = QThread::create([endedConnected, splitTunnelEnabled] {
        QStringList cleaned;
        if (endedConnected)
            cleaned << noted(QStringLiteral("the connection state of the last run (it ended while connected)"));
        cleaned << Recovery(endedConnected, splitTunnelEnabled).run();
        state().cleaned = cleaned;
    });
    s.thread->setObjectName(QStringLiteral("Start-up clean-up"));
    QObject::connect(s.thread, &QThread::finished, qApp, [] {
        State &st = state();
        st.thread->wait();
        delete std::exchange(st.thread, nullptr);
        applyKillSwitch();
    });
    s.thread->start();
}

bool isRunning()
{
    return state().running;
}

void whenDone(QObject *context, std::function<void()> then)
{
    State &s = state();
    if (!s.running) {
        then();
        return;
    }
    s.waiters.append({QPointer<QObject>(context), std::move(then)});
}

bool waitForThread(int timeoutMs)
{
    State &s = state();
    return !s.thread || s.thread->wait(QDeadlineTimer(timeoutMs));
}

} // namespace CrashRecovery
} // namespace Tavrix
