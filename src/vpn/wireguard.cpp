#include "vpn/wireguard.h"

#include "vpn/enginelog.h"

namespace Tavrix {

Wireguard::Wireguard(QObject *parent)
    : QObject(parent)
{
}

Wireguard::~Wireguard()
{
    disconnectServer();
}

bool Wireguard::connectServer()
{
    emit connectingServer();
    engineLog(QStringLiteral("WireGuard is not available in this build."));
    emit disconnected();
    return false;
}

void Wireguard::disconnectServer()
{
    killWindowsProcess();
    emit disconnected();
}

void Wireguard::startWireguardProcess(const QString &configFilePath, const QString &command)
{
    Q_UNUSED(configFilePath)
    Q_UNUSED(command)
}

void Wireguard::onProcessFinished(int exitCode)
{
    if (exitCode != 0)
        emit disconnected();
    else
        emit connected();
}

void Wireguard::killWindowsProcess()
{
}

} // namespace Tavrix
