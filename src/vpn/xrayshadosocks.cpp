#include "vpn/xrayshadosocks.h"

#include <QCoreApplication>

#include "vpn/enginelog.h"

namespace Tavrix {

XrayShadosocks::XrayShadosocks(QObject *parent)
    : QObject(parent)
{
}

bool XrayShadosocks::conntShadosocksServer()
{
    emit connectingServer();
    engineLog(QStringLiteral("Shadowsocks is not available in this build."));
    emit disconnected();
    return false;
}

void XrayShadosocks::disconnectServer()
{
    emit disconnected();
}

void XrayShadosocks::setNetworkProxy()
{
}

void XrayShadosocks::createConfigFile(const QString &address, int port, const QString &password, const QString &method)
{
    this->address = address;
    this->port = port;
    this->password = password;
    this->method = method;
}

QString XrayShadosocks::getResourcesPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Xray");
}

QString XrayShadosocks::getCongigPath()
{
    return QString();
}

} // namespace Tavrix
