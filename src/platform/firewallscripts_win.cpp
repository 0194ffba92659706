#include <QCoreApplication>
#include <QDir>

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
    // Beside the installed client (under Program Files, writable only by administrators),
    // never from ProgramData, which every user may write to.
    const QString name =
        block ? QStringLiteral("block_outbound_except_vpn.bat") : QStringLiteral("reset_firewall_rules.bat");
    const QString folder = testFolder().isEmpty() ? QCoreApplication::applicationDirPath() : testFolder();
    return QDir::toNativeSeparators(folder + QLatin1Char('/') + name);
}

void setFirewallScriptFolderForTesting(const QString &folder)
{
    testFolder() = folder;
}

} // namespace Tavrix
