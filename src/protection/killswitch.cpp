#include "protection/killswitch.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "common/config.h"
#include "platform/firewallscripts.h"
#include "platform/paths.h"
#include "vpn/engineprocess.h"

namespace Tavrix {

namespace {
// A script that never ends must not freeze the window for good.
constexpr int ScriptWaitMs = 30000;
} // namespace

QString KillSwitch::statusFilePath()
{
    return engineFolder() + QStringLiteral("service.txt");
}

bool KillSwitch::writeStatusFile(bool on)
{
    QFile file(statusFilePath());
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text))
        return false;
    const bool written = file.write(on ? StatusOn : StatusOff) > 0;
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                        QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther);
    return written;
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
        runScript(on);
    return on;
}

bool KillSwitch::blocksServicePages()
{
    auto config = Config::instance();
    config->load();
    return config->killSwitch() && !config->connectionState();
}

} // namespace Tavrix
