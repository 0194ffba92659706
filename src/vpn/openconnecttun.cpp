#include "vpn/openconnecttun.h"

#include <QRegularExpression>

#include <openconnect.h>
#include <unistd.h>

#include "platform/privilegedhelper.h"
#include "vpn/enginelog.h"

namespace Tavrix {

namespace {

QString text(const char *value)
{
    return value ? QString::fromLatin1(value).trimmed() : QString();
}

void leaveOut(const char *what, const QString &value)
{
    engineLog(
        QStringLiteral("Leaving out the server's %1 \"%2\": not usable").arg(QLatin1String(what), value.left(64)));
}

// Routes of one list, canonical, each once; *catchAll when one of them covers everything.
// Unusable ones are left out, but for an include list of nothing else (`includes`): that one
// is kept as it is, for the check to refuse, since an empty include list means everything.
QStringList routesOf(const oc_split_include *list, bool includes, bool *catchAll)
{
    QStringList routes;
    QStringList unusable;
    for (const oc_split_include *item = list; item; item = item->next) {
        const QString route = HelperProto::canonicalRoute(text(item->route));
        if (route.endsWith(QLatin1String("/0"))) {
            *catchAll = true;
            continue;
        }
        if (!HelperProto::isUsableRoute(route)) {
            unusable.append(route.isEmpty() ? text(item->route) : route);
            continue;
        }
        if (!routes.contains(route))
            routes.append(route);
    }
    if (includes && routes.isEmpty())
        return unusable;
    for (const QString &route : qAsConst(unusable))
        leaveOut("route", route);
    return routes;
}

} // namespace

HelperProto::TunSettings tunSettingsFromIpInfo(const oc_ip_info &info)
{
    HelperProto::TunSettings settings;
    settings.address4 = text(info.addr);
    if (!settings.address4.isEmpty()) {
        const QString netmask = text(info.netmask);
        settings.prefix4 = netmask.isEmpty() ? 32 : HelperProto::prefixOfNetmask(netmask);
    }
    // netmask6 carries the address too ("2001:db8::5/64"); addr6 alone is a host address.
    const QString net6 = text(info.netmask6);
    if (net6.contains(QLatin1Char('/'))) {
        settings.address6 = net6.section(QLatin1Char('/'), 0, 0);
        settings.prefix6 = net6.section(QLatin1Char('/'), 1).toInt();
    } else if (!text(info.addr6).isEmpty()) {
        settings.address6 = text(info.addr6);
        settings.prefix6 = 128;
    }
    settings.mtu = info.mtu > 0 ? info.mtu : 0;
    settings.gateway = text(info.gateway_addr);
    bool everything = false;
    settings.includeRoutes = routesOf(info.split_includes, true, &everything);
    if (everything)
        settings.includeRoutes.clear();
    // Excluding everything would mean no tunnel at all: such an entry is left out.
    bool excludesEverything = false;
    settings.excludeRoutes = routesOf(info.split_excludes, false, &excludesEverything);
    if (excludesEverything)
        leaveOut("excluded route", QStringLiteral("everything"));
    for (const char *server : info.dns) {
        if (text(server).isEmpty() || settings.dns.contains(text(server)))
            continue;
        if (HelperProto::isUsableDnsServer(text(server)))
            settings.dns.append(text(server));
        else
            leaveOut("DNS server", text(server));
    }
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    for (const QString &domain : text(info.domain).split(separators, Qt::SkipEmptyParts)) {
        if (HelperProto::isUsableSearchDomain(domain))
            settings.domains.append(domain);
        else
            leaveOut("search domain", domain);
    }
    return settings;
}

HelperTunDevice::~HelperTunDevice()
{
    close();
}

bool HelperTunDevice::open(openconnect_info *vpninfo, QString *error)
{
    close();
    const PrivilegedHelper::TunDevice device = PrivilegedHelper::createTun();
    if (!device.ok) {
        *error = device.error;
        return false;
    }
    m_tunnelId = device.tunnelId;
    m_interfaceName = device.interfaceName;
    m_fd = device.fd;
    if (!apply(vpninfo, error)) {
        close();
        return false;
    }
    // The library reads and writes it but leaves it open at its end: a descriptor it was
    // handed stays its giver's to close.
    if (openconnect_setup_tun_fd(vpninfo, m_fd) != 0) {
        close();
        *error = QStringLiteral("the library did not take the tunnel device");
        return false;
    }
    engineLog(QStringLiteral("Tunnel device %1 set up by the helper").arg(m_interfaceName));
    return true;
}

bool HelperTunDevice::apply(openconnect_info *vpninfo, QString *error)
{
    const oc_ip_info *info = nullptr;
    if (openconnect_get_ip_info(vpninfo, &info, nullptr, nullptr) != 0 || !info) {
        *error = QStringLiteral("the session has no IP information");
        return false;
    }
    const HelperProto::TunSettings settings = tunSettingsFromIpInfo(*info);
    // The helper checks again; checked here, the user learns what the server sent wrong.
    if (!HelperProto::validateTunSettings(settings, error)) {
        *error = QStringLiteral("the server's tunnel settings are unusable: ") + *error;
        return false;
    }
    QString dnsState;
    if (!PrivilegedHelper::configureTun(m_tunnelId, HelperProto::tunSettingsFields(settings), &dnsState, error))
        return false;
    m_applied = settings;
    if (dnsState.startsWith(QLatin1String("not applied")))
        engineLog(QStringLiteral("The tunnel's DNS servers (%1) are not used: DNS %2")
                      .arg(settings.dns.join(QStringLiteral(", ")), dnsState));
    return true;
}

void HelperTunDevice::refresh(openconnect_info *vpninfo)
{
    if (m_tunnelId.isEmpty())
        return;
    const oc_ip_info *info = nullptr;
    if (openconnect_get_ip_info(vpninfo, &info, nullptr, nullptr) != 0 || !info ||
        tunSettingsFromIpInfo(*info) == m_applied)
        return;
    QString error;
    if (apply(vpninfo, &error))
        engineLog(QStringLiteral("The server changed the tunnel's settings; %1 reconfigured").arg(m_interfaceName));
    else
        engineLog(QStringLiteral("The server changed the tunnel's settings and they could not be applied: ") + error);
}

void HelperTunDevice::renewServerRoute()
{
    if (m_tunnelId.isEmpty())
        return;
    QString dnsState;
    QString error;
    if (!PrivilegedHelper::configureTun(m_tunnelId, HelperProto::tunSettingsFields(m_applied), &dnsState, &error))
        engineLog(QStringLiteral("The route to the VPN server could not be renewed: ") + error);
}

void HelperTunDevice::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_tunnelId.isEmpty())
        return;
    QString error;
    if (!PrivilegedHelper::stop(m_tunnelId, &error))
        engineLog(QStringLiteral("Taking down the tunnel device %1: %2").arg(m_interfaceName, error));
    m_tunnelId.clear();
    m_interfaceName.clear();
    m_applied = HelperProto::TunSettings();
}

} // namespace Tavrix
