#include "vpn/v2ray.h"

#include "vpn/enginelog.h"

namespace Tavrix {

V2ray::V2ray(QObject *parent)
    : QObject(parent)
{
}

bool V2ray::connectServer()
{
    emit connectingServer();
    engineLog(QStringLiteral("V2Ray is not available in this build."));
    emit disconnected();
    return false;
}

void V2ray::disconnectServer()
{
    resetNetworkProxy();
    emit disconnected();
}

void V2ray::setNetworkProxy()
{
}

void V2ray::resetNetworkProxy()
{
}

} // namespace Tavrix
