#include "helperproto/killswitchrules.h"

#include "helperproto/limits.h"

namespace Tavrix::HelperProto {

namespace {

const QLatin1String stateNames[] = {QLatin1String("off"), QLatin1String("blocked"), QLatin1String("tunnel"),
                                    QLatin1String("tunnel-ipv6")};

bool isIpv4Text(const QString &address)
{
    return !address.contains(QLatin1Char(':'));
}

bool validAddresses(const QList<KillSwitchAddress> &list, int max, const char *what, QString *error)
{
    if (list.size() > max) {
        *error = QStringLiteral("too many %1 (at most %2)").arg(QLatin1String(what)).arg(max);
        return false;
    }
    for (const KillSwitchAddress &entry : list) {
        if (!isValidIpAddress(entry.address)) {
            *error = QStringLiteral("%1: \"%2\" is not an IP address").arg(QLatin1String(what), entry.address.left(60));
            return false;
        }
        if (entry.protocol != QLatin1String("tcp") && entry.protocol != QLatin1String("udp")) {
            *error = QStringLiteral("%1: the protocol must be tcp or udp").arg(QLatin1String(what));
            return false;
        }
    }
    return true;
}

QString interfaceSet(const QStringList &interfaces)
{
    QStringList quoted;
    for (const QString &name : interfaces)
        quoted << QLatin1Char('"') + name + QLatin1Char('"');
    return quoted.size() == 1 ? quoted.first() : QStringLiteral("{ ") + quoted.join(QStringLiteral(", ")) + " }";
}

// One accept rule per address; `family` limits them to "ip" or "ip6" (empty: both).
void addressRules(QStringList *rules, const QList<KillSwitchAddress> &list, const QString &family = QString())
{
    for (const KillSwitchAddress &entry : list) {
        const QString own = isIpv4Text(entry.address) ? QStringLiteral("ip") : QStringLiteral("ip6");
        if (!family.isEmpty() && family != own)
            continue;
        const QString port = entry.port == 0 ? QStringLiteral("meta l4proto %1").arg(entry.protocol)
                                             : QStringLiteral("%1 dport %2").arg(entry.protocol).arg(entry.port);
        *rules << QStringLiteral("%1 daddr %2 %3 accept").arg(own, entry.address, port);
    }
}

// Link upkeep: the address from DHCP, IPv6 neighbour discovery (IPv6's ARP).
void linkRules(QStringList *rules)
{
    *rules << QStringLiteral("meta nfproto ipv4 udp sport 68 udp dport 67 accept")
           << QStringLiteral("meta nfproto ipv6 udp sport 546 udp dport 547 accept")
           << QStringLiteral("icmpv6 type { nd-router-solicit, nd-neighbor-solicit, nd-neighbor-advert } "
                             "ip6 hoplimit 255 accept");
}

// With the tunnel's DNS servers known, name look-ups leave for them alone: a query to the
// outer network's resolver would tell it every name even through the tunnel's interface.
void dnsRules(QStringList *rules, const QStringList &dns)
{
    if (dns.isEmpty())
        return;
    QStringList v4, v6;
    for (const QString &server : dns)
        (isIpv4Text(server) ? v4 : v6) << server;
    const auto rule = [rules](const QString &family, const QString &nfproto, const QStringList &servers) {
        if (servers.isEmpty())
            *rules << QStringLiteral("meta nfproto %1 meta l4proto { tcp, udp } th dport 53 drop").arg(nfproto);
        else
            *rules << QStringLiteral("%1 daddr != { %2 } meta l4proto { tcp, udp } th dport 53 drop")
                          .arg(family, servers.join(QStringLiteral(", ")));
    };
    rule(QStringLiteral("ip"), QStringLiteral("ipv4"), v4);
    rule(QStringLiteral("ip6"), QStringLiteral("ipv6"), v6);
}

} // namespace

QString killSwitchStateName(KillSwitchState state)
{
    return stateNames[int(state)];
}

bool parseKillSwitchState(const QString &name, KillSwitchState *state)
{
    for (int i = 0; i < 4; ++i) {
        if (name == stateNames[i]) {
            *state = KillSwitchState(i);
            return true;
        }
    }
    return false;
}

bool isValidKillSwitchInterface(const QString &name)
{
    const bool family = name.endsWith(QLatin1Char('*'));
    const QString base = family ? name.chopped(1) : name;
    if (base == QLatin1String("TavrixVPN"))
        return !family;
    // A prefix of the helper's own naming and then the device's number only: "tvx*" would also
    // take in any other device named so (a lab's outer link is).
    for (const QLatin1String prefix : {QLatin1String("tun"), QLatin1String("tvxwg")}) {
        if (!base.startsWith(prefix))
            continue;
        const QString number = base.mid(prefix.size());
        if (number.size() > 7 || (number.isEmpty() && !family))
            return false;
        for (const QChar c : number) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        return true;
    }
    return false;
}

bool validateKillSwitchRequest(const KillSwitchRequest &request, QString *error)
{
    if (!validAddresses(request.endpoints, maxKillSwitchEndpoints, "VPN endpoints", error) ||
        !validAddresses(request.services, maxKillSwitchServices, "service addresses", error))
        return false;
    if (request.interfaces.size() > maxKillSwitchInterfaces) {
        *error = QStringLiteral("too many tunnel interfaces (at most %1)").arg(maxKillSwitchInterfaces);
        return false;
    }
    for (const QString &name : request.interfaces) {
        if (!isValidKillSwitchInterface(name)) {
            *error = QStringLiteral("\"%1\" is not a tunnel interface of TavrixVPN").arg(name.left(20));
            return false;
        }
    }
    if (request.dns.size() > maxDnsServers) {
        *error = QStringLiteral("too many DNS servers (at most %1)").arg(maxDnsServers);
        return false;
    }
    for (const QString &server : request.dns) {
        if (!isValidIpAddress(server)) {
            *error = QStringLiteral("DNS server \"%1\" is not an IP address").arg(server.left(60));
            return false;
        }
    }
    const bool needsTunnel = request.state == KillSwitchState::Tunnel || request.state == KillSwitchState::TunnelIpv6;
    if (needsTunnel && request.interfaces.isEmpty()) {
        *error = QStringLiteral("the tunnel's interfaces are missing");
        return false;
    }
    return true;
}

QString killSwitchTableName(uint uid)
{
    return QStringLiteral("tavrixvpn_%1").arg(uid);
}

QByteArray killSwitchRuleset(uint uid, const KillSwitchRequest &request)
{
    const QString table = QStringLiteral("table inet ") + killSwitchTableName(uid);
    // Declaring the table first makes the deletion, or the flush, valid whether or not it
    // exists; the kernel applies the whole text at once or not at all.
    QString text = table + QLatin1Char('\n');
    if (request.state == KillSwitchState::Off)
        return (text + QStringLiteral("delete ") + table + QLatin1Char('\n')).toUtf8();
    text += QStringLiteral("flush ") + table + QLatin1Char('\n');

    QStringList rules{QStringLiteral("oifname \"lo\" accept")};
    QString policy = QStringLiteral("drop");
    switch (request.state) {
    case KillSwitchState::Blocked:
        linkRules(&rules);
        addressRules(&rules, request.endpoints);
        addressRules(&rules, request.services);
        rules << QStringLiteral("counter reject with icmpx type admin-prohibited");
        break;
    case KillSwitchState::Tunnel:
        linkRules(&rules);
        addressRules(&rules, request.endpoints);
        addressRules(&rules, request.services);
        dnsRules(&rules, request.dns);
        rules << QStringLiteral("oifname %1 accept").arg(interfaceSet(request.interfaces));
        rules << QStringLiteral("counter reject with icmpx type admin-prohibited");
        break;
    case KillSwitchState::TunnelIpv6:
        policy = QStringLiteral("accept");
        rules << QStringLiteral("oifname %1 accept").arg(interfaceSet(request.interfaces));
        linkRules(&rules);
        addressRules(&rules, request.endpoints, QStringLiteral("ip6"));
        rules << QStringLiteral("meta nfproto ipv6 counter reject with icmpx type admin-prohibited");
        break;
    case KillSwitchState::Off:
        break;
    }
    // Before the usual filters (priority 0), so no other table's accept matters.
    text += table + QStringLiteral(" {\n    chain output {\n        type filter hook output priority -10; policy ") +
            policy + QStringLiteral(";\n");
    for (const QString &rule : qAsConst(rules))
        text += QStringLiteral("        ") + rule + QLatin1Char('\n');
    text += QStringLiteral("    }\n}\n");
    return text.toUtf8();
}

QByteArray killSwitchStoredText(const KillSwitchRequest &request)
{
    QByteArray text;
    const auto add = [&text](const char *kind, const QList<KillSwitchAddress> &list) {
        for (const KillSwitchAddress &entry : list)
            text += QStringLiteral("%1 %2 %3 %4\n")
                        .arg(QLatin1String(kind), entry.protocol, entry.address)
                        .arg(entry.port)
                        .toUtf8();
    };
    add("endpoint", request.endpoints);
    add("service", request.services);
    return text;
}

bool parseKillSwitchStoredText(const QByteArray &text, KillSwitchRequest *request, QString *error)
{
    *request = KillSwitchRequest();
    request->state = KillSwitchState::Blocked;
    for (const QByteArray &line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QList<QByteArray> parts = line.trimmed().split(' ');
        bool portOk = false;
        const uint port = parts.size() == 4 ? parts.at(3).toUInt(&portOk) : 0;
        if (parts.size() != 4 || !portOk || port > 65535 || (parts.at(0) != "endpoint" && parts.at(0) != "service")) {
            *error = QStringLiteral("unreadable line in the stored kill switch");
            return false;
        }
        const KillSwitchAddress entry{QString::fromLatin1(parts.at(2)), quint16(port),
                                      QString::fromLatin1(parts.at(1))};
        (parts.at(0) == "endpoint" ? request->endpoints : request->services).append(entry);
    }
    return validateKillSwitchRequest(*request, error);
}

} // namespace Tavrix::HelperProto
