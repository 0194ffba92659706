#include "protection/killswitch.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QStringList>
#include <QThreadPool>
#include <QtConcurrent>

#include <atomic>

#include "common/config.h"
#include "platform/firewallscripts.h"
#include "platform/paths.h"
#include "platform/privatefile.h"
#include "platform/privilegedhelper.h"
#include "protection/killswitchfirewall.h"
#include "vpn/engineprocess.h"

namespace Tavrix {

namespace {
// A script that never ends must not freeze the window for good.
constexpr int ScriptWaitMs = 30000;

std::atomic<int> pendingScripts{0};

using HelperProto::KillSwitchState;

// Whether the network is open for this user's look-ups now (as far as this run knows): the
// service's names are resolved again only then, otherwise the last good addresses serve. At
// the start a stored switch means the helper may already block.
std::atomic<bool> networkOpen{false};
std::atomic<bool> networkOpenKnown{false};

// One thread: the block and reset scripts must never overlap or overtake each other.
QThreadPool &scriptPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        // A script still running when the program ends is waited for (each is bounded).
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app,
                             [] { KillSwitch::waitForScripts(ScriptWaitMs + 5000); });
        return p;
    }();
    return *pool;
}
} // namespace

QString KillSwitch::statusFilePath()
{
    return engineFolder() + QStringLiteral("service.txt");
}

bool KillSwitch::writeStatusFile(bool on)
{
    // Owner-only from its first byte: another local user must neither read nor flip the
    // switch's recorded state (a world-writable file would let them).
    QString error;
    if (!writePrivateFile(statusFilePath(), on ? QByteArray(StatusOn) : QByteArray(StatusOff), &error)) {
        qWarning().noquote() << "Kill switch status file not written:" << error;
        return false;
    }
    return true;
}

bool KillSwitch::runScript(bool block)
{
    const QString script = firewallScriptPath(block);
    if (!QFileInfo(script).isFile()) {
        qWarning() << "Kill switch script missing:" << script;
        qDebug() << "Error: bat file execution timed out or encountered an error.";
        return false;
    }
    // The runner hands the script the client's network privilege.
    const CommandResult result = runCommand(script, {}, ScriptWaitMs);
    if (!result.started || result.timedOut) {
        qDebug() << "Error: bat file execution timed out or encountered an error.";
        if (!result.output.trimmed().isEmpty())
            qWarning().noquote() << "Kill switch script:" << result.output.trimmed();
        return false;
    }
    qDebug() << "bat file finished with exit code:" << result.exitCode;
    if (result.exitCode != 0) {
        qWarning().noquote() << "Kill switch script" << QFileInfo(script).fileName() << "failed with exit code"
                             << result.exitCode << ":" << result.output.trimmed();
        return false;
    }
    return true;
}

void KillSwitch::queueScript(bool block, QObject *context, std::function<void(bool)> done)
{
    ++pendingScripts;
    QFuture<bool> future = QtConcurrent::run(&scriptPool(), [block] {
        const bool ok = runScript(block);
        --pendingScripts;
        return ok;
    });
    if (!context || !done)
        return;
    auto *watcher = new QFutureWatcher<bool>(context);
    QObject::connect(watcher, &QFutureWatcher<bool>::finished, context, [watcher, done] {
        watcher->deleteLater();
        done(watcher->result());
    });
    watcher->setFuture(future);
}

bool KillSwitch::scriptsPending()
{
    return pendingScripts.load() > 0;
}

bool KillSwitch::waitForScripts(int timeoutMs)
{
    return scriptPool().waitForDone(timeoutMs);
}

bool KillSwitch::usesHelper()
{
    static const bool available = PrivilegedHelper::isAvailable();
    return available;
}

namespace {

struct StageResult
{
    bool ok = true;
    QString error;
};

StageResult applyWithHelper(KillSwitch::Stage stage, bool on)
{
    KillSwitchState state = KillSwitchState::Off;
    switch (stage) {
    case KillSwitch::Stage::Idle:
        state = on ? KillSwitchState::Blocked : KillSwitchState::Off;
        break;
    case KillSwitch::Stage::Connecting:
        // With the switch off nothing is blocked before the tunnel is up.
        if (!on)
            return {};
        state = KillSwitchState::Tunnel;
        break;
    case KillSwitch::Stage::Connected:
        state = on ? KillSwitchState::Tunnel : KillSwitchState::TunnelIpv6;
        break;
    }
    if (!networkOpenKnown.load()) {
        networkOpen = !on;
        networkOpenKnown = true;
    }
    const HelperProto::KillSwitchRequest request = KillSwitchFirewall::request(state, networkOpen.load());
    StageResult result;
    result.ok = PrivilegedHelper::setKillSwitch(request, &result.error);
    if (!result.ok) {
        qWarning().noquote() << "Kill switch: the firewall was not changed to"
                             << HelperProto::killSwitchStateName(state) << ":" << result.error;
        return result;
    }
    qDebug().noquote() << "Kill switch firewall:" << HelperProto::killSwitchStateName(state);
    networkOpen = state == KillSwitchState::Off || state == KillSwitchState::TunnelIpv6 ||
                  (state == KillSwitchState::Tunnel && stage == KillSwitch::Stage::Connected);
    return result;
}

StageResult applyWithScripts(KillSwitch::Stage stage, bool on)
{
    // The scripts know two states; a connect opens the firewall before the engine dials out.
    bool block = false;
    switch (stage) {
    case KillSwitch::Stage::Idle:
        block = on;
        break;
    case KillSwitch::Stage::Connecting:
        if (!on)
            return {};
        break;
    case KillSwitch::Stage::Connected:
        return {};
    }
    StageResult result;
    result.ok = KillSwitch::runScript(block);
    if (!result.ok)
        result.error = QStringLiteral("The firewall script did not run to its end (see the log).");
    return result;
}

QFuture<StageResult> runStage(KillSwitch::Stage stage)
{
    ++pendingScripts;
    return QtConcurrent::run(&scriptPool(), [stage] {
        auto config = Config::instance();
        config->load();
        const bool on = config->killSwitch();
        const StageResult result = KillSwitch::usesHelper() ? applyWithHelper(stage, on) : applyWithScripts(stage, on);
        --pendingScripts;
        return result;
    });
}

} // namespace

void KillSwitch::admitVpnConfiguration(int type, const QString &configuration)
{
    KillSwitchFirewall::setVpnConfiguration(type, configuration);
    if (!usesHelper())
        return;
    auto config = Config::instance();
    config->load();
    if (!config->killSwitch())
        return;
    QFuture<StageResult> future = runStage(Stage::Connecting);
    future.waitForFinished();
}

void KillSwitch::queueStage(Stage stage, QObject *context, std::function<void(bool, const QString &)> done)
{
    QFuture<StageResult> future = runStage(stage);
    if (!context || !done)
        return;
    auto *watcher = new QFutureWatcher<StageResult>(context);
    QObject::connect(watcher, &QFutureWatcher<StageResult>::finished, context, [watcher, done] {
        watcher->deleteLater();
        const StageResult result = watcher->result();
        done(result.ok, result.error);
    });
    watcher->setFuture(future);
}

bool KillSwitch::toggle()
{
    return toggle(nullptr, {});
}

bool KillSwitch::toggle(QObject *context, std::function<void(bool on, const QString &error)> failed)
{
    auto config = Config::instance();
    config->load();
    const bool on = !config->killSwitch();
    config->setKillSwitch(on);
    config->save();
    writeStatusFile(on);
    config->save();
    const bool connected = config->connectionState();
    // The scripts leave the firewall open while a tunnel is up; the next IDLE or connect applies
    // the change. The helper's table follows the tunnel, so it changes now.
    if (connected && !usesHelper())
        return on;
    // A change that did not happen must not show: the setting and the status file go back.
    QObject *receiver = context ? context : qApp;
    queueStage(connected ? Stage::Connected : Stage::Idle, receiver, [on, failed](bool ok, const QString &error) {
        if (ok)
            return;
        auto config = Config::instance();
        config->load();
        if (config->killSwitch() == on) {
            config->setKillSwitch(!on);
            config->save();
            writeStatusFile(!on);
        }
        qWarning().noquote() << "Kill switch turned back" << (on ? "off" : "on") << ":" << error;
        if (failed)
            failed(!on, error);
    });
    return on;
}

bool KillSwitch::blocksServicePages()
{
    auto config = Config::instance();
    config->load();
    return config->killSwitch() && !config->connectionState();
}

} // namespace Tavrix
