#include "platform/ping.h"

namespace Tavrix {
namespace Ping {

QString program()
{
    return QStringLiteral("ping");
}

QStringList arguments(const QString &host)
{
    return {QStringLiteral("-c"), QStringLiteral("1"), host};
}

} // namespace Ping
} // namespace Tavrix
