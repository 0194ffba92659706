#include "vpn/enginelog.h"

#include <QDebug>

namespace Tavrix {

void engineLog(const QString &text)
{
    qInfo().noquote() << text;
}

} // namespace Tavrix
