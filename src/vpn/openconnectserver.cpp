#include "vpn/openconnectserver.h"

namespace Tavrix {

OpenConnectServer::OpenConnectServer(const QString &host)
    : m_host(host)
{
}

void OpenConnectServer::setHost(const QString &host)
{
    m_host = host;
}

void OpenConnectServer::setAuthGroup(const QString &group)
{
    m_authGroup = group;
}

void OpenConnectServer::setProtocol(const QString &protocol)
{
    m_protocol = protocol;
}

void OpenConnectServer::setPin(const QString &pin)
{
    m_pin = pin;
}

} // namespace Tavrix
