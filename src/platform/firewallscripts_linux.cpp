#include <QCoreApplication>
#include <QFileInfo>

#include "platform/firewallscripts.h"
#include "platform/paths.h"

namespace Tavrix {

QString firewallScriptPath(bool block)
{
    const QString name =
        block ? QStringLiteral("block_outbound_except_vpn.sh") : QStringLiteral("reset_firewall_rules.sh");
    // The engine folder first, as on Windows; the build tree and installs keep them beside
    // the executable.
    const QString inEngineFolder = engineFolder() + name;
    if (QFileInfo::exists(inEngineFolder))
        return inEngineFolder;
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

} // namespace Tavrix
