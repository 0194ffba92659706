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
#include "vpn/engineprocess.h"

namespace Tavrix {

namespace {
// A script that never ends must not freeze the window for good.
constexpr int ScriptWaitMs = 30000;

std::atomic<int> pendingScripts{0};

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

bool KillSwitch::toggle()
{
    auto config = Config::instance();
    config->load();
    const bool on = !config->killSwitch();
    config->setKillSwitch(on);
    config->save();
    writeStatusFile(on);
    config->save();
    // With a tunnel up the firewall is open for it; the next IDLE or connect applies the change.
    if (!config->connectionState())
        queueScript(on);
    return on;
}

bool KillSwitch::blocksServicePages()
{
    auto config = Config::instance();
    config->load();
    return config->killSwitch() && !config->connectionState();
}

} // namespace Tavrix
