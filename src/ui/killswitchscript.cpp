#include "ui/killswitchscript.h"

#include <QDebug>
#include <QProcess>
#include <QStringList>

#include "platform/firewallscripts.h"

namespace Tavrix {

namespace {
// A script that never ends must not freeze the window for good.
constexpr int ScriptWaitMs = 30000;
} // namespace

void runKillSwitchScript(bool block)
{
    QProcess process;
    process.start(firewallScriptPath(block), QStringList(), QIODevice::ReadWrite);
    if (process.waitForFinished(ScriptWaitMs)) {
        qDebug() << "bat file finished with exit code:" << process.exitCode();
        return;
    }
    qDebug() << "Error: bat file execution timed out or encountered an error.";
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
    }
}

} // namespace Tavrix
