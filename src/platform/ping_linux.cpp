#include "platform/ping.h"

namespace Tavrix {
namespace Ping {

QString program()
{
    return QStringLiteral("ping");
}

QStringList arguments(const QString &host)
{
    // One echo, numeric output, and a deadline so an unreachable host ends the program
    // instead of leaving it waiting; "--" keeps the host from being read as an option.
    return {QStringLiteral("-c"),
            QStringLiteral("1"),
            QStringLiteral("-n"),
            QStringLiteral("-w"),
            QStringLiteral("5"),
            QStringLiteral("--"),
            host};
}

} // namespace Ping
} // namespace Tavrix
