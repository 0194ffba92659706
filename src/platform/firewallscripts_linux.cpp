#include <QCoreApplication>

#include "platform/firewallscripts.h"

namespace Tavrix {

namespace {
QString &testFolder()
{
    static QString folder;
    return folder;
}
} // namespace

QString firewallScriptPath(bool block)
{
    const QString name =
        block ? QStringLiteral("block_outbound_except_vpn.sh") : QStringLiteral("reset_firewall_rules.sh");
    const QString folder = testFolder().isEmpty() ? QCoreApplication::applicationDirPath() : testFolder();
    return folder + QLatin1Char('/') + name;
}

void setFirewallScriptFolderForTesting(const QString &folder)
{
    testFolder() = folder;
}

} // namespace Tavrix
