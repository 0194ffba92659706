#include <QSocketNotifier>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/networkwatch.h"

// The carrier flag is only in the kernel's header, which clashes with the C library's.
#ifndef IFF_LOWER_UP
#define IFF_LOWER_UP 0x10000
#endif

namespace Tavrix {

namespace {

// Events of one burst are reported together once the system has been quiet this long.
constexpr int settleMs = 300;

QString interfaceName(int index)
{
    char name[IF_NAMESIZE] = {};
    if (index > 0 && if_indextoname(unsigned(index), name))
        return QString::fromLatin1(name);
    return QString();
}

QString addressText(int family, const void *address)
{
    char text[INET6_ADDRSTRLEN] = {};
    return inet_ntop(family, address, text, sizeof text) ? QString::fromLatin1(text) : QString();
}

} // namespace

NetworkWatch::NetworkWatch(QObject *parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    QObject::connect(&m_settle, &QTimer::timeout, this, [this] {
        const QString what = m_pending;
        m_pending.clear();
        emit changed(what);
    });

    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (m_fd < 0)
        return;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR | RTMGRP_IPV6_ROUTE;
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    QObject::connect(m_notifier, &QSocketNotifier::activated, this, &NetworkWatch::readEvents);
    // The addresses there are now, so that a repeated announcement of one is told apart from
    // a new one.
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
            if (!entry->ifa_addr || !entry->ifa_name)
                continue;
            const int family = entry->ifa_addr->sa_family;
            const void *address = nullptr;
            if (family == AF_INET)
                address = &reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr;
            else if (family == AF_INET6)
                address = &reinterpret_cast<const sockaddr_in6 *>(entry->ifa_addr)->sin6_addr;
            const QString name = QString::fromLatin1(entry->ifa_name);
            if (address && !isTunnelInterface(name))
                m_addresses.insert(name + QLatin1Char(' ') + addressText(family, address));
        }
        freeifaddrs(list);
    }
}

NetworkWatch::~NetworkWatch()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

bool NetworkWatch::isTunnelInterface(const QString &name)
{
    // Our engines' devices (OpenConnect and OpenVPN "tun", WireGuard "wg"/"tvxwg") and the
    // usual names of other tunnels.
    static const QStringList prefixes{QStringLiteral("tun"),   QStringLiteral("tap"), QStringLiteral("wg"),
                                      QStringLiteral("tvxwg"), QStringLiteral("ppp"), QStringLiteral("vpn")};
    for (const QString &prefix : prefixes) {
        if (name.startsWith(prefix))
            return true;
    }
    return name == QLatin1String("lo");
}

void NetworkWatch::readEvents()
{
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got < 0) {
            // ENOBUFS: events were lost; something changed for sure.
            if (errno == ENOBUFS)
                note(QStringLiteral("events lost"));
            return;
        }
        if (got == 0)
            return;
        int length = int(got);
        for (auto *header = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(header, unsigned(length));
             header = NLMSG_NEXT(header, length)) {
            switch (header->nlmsg_type) {
            case RTM_NEWLINK:
            case RTM_DELLINK: {
                const auto *info = static_cast<const ifinfomsg *>(NLMSG_DATA(header));
                QString name;
                int attributeLength = int(IFLA_PAYLOAD(header));
                for (auto *attribute = IFLA_RTA(info); RTA_OK(attribute, attributeLength);
                     attribute = RTA_NEXT(attribute, attributeLength)) {
                    if (attribute->rta_type == IFLA_IFNAME)
                        name = QString::fromLatin1(static_cast<const char *>(RTA_DATA(attribute)));
                }
                // A link message also comes for statistics and other attributes: only a change
                // of the up or carrier flags (or a link that goes) counts.
                const bool changedState = info->ifi_change & (IFF_UP | IFF_RUNNING | IFF_LOWER_UP);
                if (!isTunnelInterface(name) && (header->nlmsg_type == RTM_DELLINK || changedState)) {
                    const bool running = (info->ifi_flags & IFF_RUNNING) && (info->ifi_flags & IFF_UP);
                    note(QStringLiteral("link %1 %2")
                             .arg(name, running ? QStringLiteral("up") : QStringLiteral("down")));
                }
                break;
            }
            case RTM_NEWADDR:
            case RTM_DELADDR: {
                const auto *info = static_cast<const ifaddrmsg *>(NLMSG_DATA(header));
                const QString name = interfaceName(int(info->ifa_index));
                if (name.isEmpty() || isTunnelInterface(name))
                    break;
                // An address still being checked for duplicates is not usable yet; its
                // announcement once checked is the one that counts.
                if (header->nlmsg_type == RTM_NEWADDR && (info->ifa_flags & IFA_F_TENTATIVE))
                    break;
                // IPv4 names its own address in IFA_LOCAL (IFA_ADDRESS is the peer's on a
                // point-to-point link); IPv6 in IFA_ADDRESS.
                QString address;
                bool linkLocal = false;
                int attributeLength = int(IFA_PAYLOAD(header));
                for (auto *attribute = IFA_RTA(info); RTA_OK(attribute, attributeLength);
                     attribute = RTA_NEXT(attribute, attributeLength)) {
                    if (attribute->rta_type == IFA_LOCAL || (attribute->rta_type == IFA_ADDRESS && address.isEmpty())) {
                        address = addressText(info->ifa_family, RTA_DATA(attribute));
                        linkLocal = info->ifa_family == AF_INET6 &&
                                    IN6_IS_ADDR_LINKLOCAL(static_cast<const in6_addr *>(RTA_DATA(attribute)));
                    }
                }
                // An IPv6 link-local address comes and goes with its link (reported as the
                // link's change) and never carries the way out.
                if (linkLocal)
                    break;
                const QString key = name + QLatin1Char(' ') + address;
                if (header->nlmsg_type == RTM_NEWADDR) {
                    // The same address again (its lifetime or flags renewed): nothing changed.
                    if (!address.isEmpty() && m_addresses.contains(key))
                        break;
                    m_addresses.insert(key);
                } else {
                    m_addresses.remove(key);
                }
                note(QStringLiteral("address on %1").arg(name));
                break;
            }
            case RTM_NEWROUTE:
            case RTM_DELROUTE: {
                const auto *route = static_cast<const rtmsg *>(NLMSG_DATA(header));
                // Only the main table's default route says which way out the machine takes.
                if (route->rtm_dst_len != 0 || route->rtm_table != RT_TABLE_MAIN)
                    break;
                int outIndex = 0;
                int attributeLength = int(RTM_PAYLOAD(header));
                for (auto *attribute = RTM_RTA(route); RTA_OK(attribute, attributeLength);
                     attribute = RTA_NEXT(attribute, attributeLength)) {
                    if (attribute->rta_type == RTA_OIF)
                        outIndex = *static_cast<const int *>(RTA_DATA(attribute));
                }
                const QString name = interfaceName(outIndex);
                if (!isTunnelInterface(name))
                    note(QStringLiteral("default route%1")
                             .arg(name.isEmpty() ? QString() : QStringLiteral(" via ") + name));
                break;
            }
            default:
                break;
            }
        }
    }
}

void NetworkWatch::note(const QString &what)
{
    if (!m_pending.contains(what))
        m_pending += m_pending.isEmpty() ? what : QStringLiteral(", ") + what;
    m_settle.start();
}

} // namespace Tavrix
