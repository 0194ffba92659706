#include "vpn/v2ray.h"

#include <QProcess>

#include "vpn/enginelog.h"

namespace Tavrix {

V2ray::V2ray(QObject *parent)
    : QObject(parent)
{
}

V2ray::~V2ray()
{
    if (process && process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000))
            process->kill();
    }
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
