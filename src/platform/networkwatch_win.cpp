#include "platform/networkwatch.h"

namespace Tavrix {

NetworkWatch::NetworkWatch(QObject *parent)
    : QObject(parent)
{
    // NotifyIpInterfaceChange and NotifyRouteChange2 would feed note(); until then the
    // engines' own keep-alives find a lost tunnel.
}

NetworkWatch::~NetworkWatch() = default;

bool NetworkWatch::isTunnelInterface(const QString &name)
{
    Q_UNUSED(name)
    return false;
}

void NetworkWatch::readEvents()
{
}

void NetworkWatch::note(const QString &what)
{
    emit changed(what);
}

} // namespace Tavrix
