#include "vpn/outlineclient.h"

#include "vpn/enginelog.h"

namespace Tavrix {

OutlineClient::OutlineClient(QObject *parent)
    : QObject(parent)
{
}

OutlineClient::~OutlineClient()
{
    disconnectServer();
}

bool OutlineClient::connectServer()
{
    emit connectingServer();
    engineLog(QStringLiteral("Outline is not available in this build."));
    emit disconnected();
    return false;
}

void OutlineClient::disconnectServer()
{
    emit disconnected();
}

} // namespace Tavrix
