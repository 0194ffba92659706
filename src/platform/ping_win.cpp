#include "platform/ping.h"

namespace Tavrix {
namespace Ping {

QString program()
{
    return QStringLiteral("ping");
}

QStringList arguments(const QString &host)
{
    // Windows ping knows no "--": start() only passes checked host names and addresses.
    return {QStringLiteral("-c"), QStringLiteral("1"), host};
}

} // namespace Ping
} // namespace Tavrix
