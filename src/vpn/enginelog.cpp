#include "vpn/enginelog.h"

#include "log/logger.h"

namespace Tavrix {

void engineLog(const QString &text)
{
    Logger::instance()->log(text, 1, 4);
}

} // namespace Tavrix
