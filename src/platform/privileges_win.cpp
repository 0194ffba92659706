#include "platform/privileges.h"

namespace Tavrix {
namespace Privileges {

// On Windows the engines that need administrator rights are started elevated ("runas") and the
// firewall scripts run through the installed service; the client itself needs nothing more.
bool canManageNetwork()
{
    return true;
}

QString missingMessage()
{
    return QStringLiteral("TavrixVPN needs administrator rights to set up this tunnel.");
}

} // namespace Privileges
} // namespace Tavrix
