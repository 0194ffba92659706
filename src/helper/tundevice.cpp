#include "helper/tundevice.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "helper/childprocess.h"
#include "helper/systemcommand.h"
#include "helperproto/tunsettings.h"

namespace Tavrix {

namespace {

// The kernel puts the first free number in place of "%d".
constexpr const char *namePattern = "tuntvx%d";
const QString resolvectl = QStringLiteral("resolvectl");

bool runIpBatch(const QStringList &lines, bool force, QString *error)
{
    if (lines.isEmpty())
        return true;
    QStringList arguments;
    if (force)
        arguments << QStringLiteral("-force");
    arguments << QStringLiteral("-batch") << QStringLiteral("-");
    return runSystemTool(QStringLiteral("ip"), arguments,
                         (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLatin1(), nullptr, error);
}

// The way to `address` now: "via X dev Y" or "dev Y" from one line of "ip -o route get".
// Empty when it is no ordinary unicast route (local, unreachable, ...).
QString pathOf(const QByteArray &line)
{
    const QList<QByteArray> words = line.simplified().split(' ');
    if (words.isEmpty() ||
        QList<QByteArray>{"local", "unreachable", "blackhole", "prohibit", "throw", "broadcast", "multicast"}.contains(
            words.first()))
        return QString();
    QString via;
    QString dev;
    for (int i = 0; i + 1 < words.size(); ++i) {
        if (words.at(i) == "via") {
            int at = i + 1;
            if ((words.at(at) == "inet" || words.at(at) == "inet6") && at + 1 < words.size())
                ++at;
            via = QString::fromLatin1(words.at(at));
        } else if (words.at(i) == "dev") {
            dev = QString::fromLatin1(words.at(i + 1));
        }
    }
    if (dev.isEmpty() || dev == QLatin1String("lo"))
        return QString();
    return (via.isEmpty() ? QString() : QStringLiteral("via %1 ").arg(via)) + QStringLiteral("dev ") + dev;
}

// The current way to each address (in the order given; empty for an address with none), with
// one "ip" for all of them: a batch stops at its first failing line, so it goes on after it.
QStringList pathsOf(const QStringList &addresses)
{
    QStringList paths;
    while (paths.size() < addresses.size()) {
        QStringList lines;
        for (int i = paths.size(); i < addresses.size(); ++i)
            lines.append(QStringLiteral("route get ") + addresses.at(i));
        QByteArray output;
        QString error;
        const bool ok =
            runSystemTool(QStringLiteral("ip"), {QStringLiteral("-o"), QStringLiteral("-batch"), QStringLiteral("-")},
                          (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLatin1(), &output, &error);
        for (const QByteArray &result : output.split('\n')) {
            if (!result.trimmed().isEmpty())
                paths.append(pathOf(result));
        }
        if (ok || !error.contains(QLatin1String("Command failed")))
            break;
        // The line it stopped at has no route.
        paths.append(QString());
    }
    while (paths.size() < addresses.size())
        paths.append(QString());
    return paths;
}

QString networkAddress(const QString &route)
{
    return route.section(QLatin1Char('/'), 0, 0);
}

// Records of the devices, in a folder of their own: the runtime folder's files go at a
// helper's start, these are read first.
const QString recordFolder = QStringLiteral("tun");

} // namespace

TunDevice::TunDevice(const QString &id, const RuntimeFolder &folder, QObject *parent)
    : Tunnel(id, QStringLiteral("OpenConnect tun"), folder, parent)
{
}

TunDevice::~TunDevice()
{
    // The helper going away without stopping its tunnels first still takes the device down.
    cleanUp();
}

bool TunDevice::create(QString *error)
{
    m_fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        *error = QStringLiteral("cannot open /dev/net/tun: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    strncpy(request.ifr_name, namePattern, IFNAMSIZ - 1);
    if (::ioctl(m_fd, TUNSETIFF, &request) != 0) {
        *error = QStringLiteral("cannot make a tun device: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_name = QString::fromLatin1(request.ifr_name);
    m_index = ::if_nametoindex(request.ifr_name);
    record();
    qInfo().noquote() << QStringLiteral("OpenConnect tun") << id().left(8) << QStringLiteral("is") << m_name;
    markUp();
    return true;
}

bool TunDevice::stillOurs() const
{
    return m_fd >= 0 && !m_removed && m_index != 0 && ::if_nametoindex(m_name.toLatin1().constData()) == m_index;
}

bool TunDevice::configure(const HelperProto::TunSettings &settings, bool resolvedRunning, QString *dnsState,
                          QString *error)
{
    if (!stillOurs()) {
        *error = QStringLiteral("The tunnel device is gone.");
        return false;
    }
    // The way the gateway and the excluded networks take now is the way they keep. Asked
    // with the tunnel's routes still in place: they go around the tunnel if kept outside it
    // before; a network change may have taken those away, and then they are asked again
    // without the tunnel's routes.
    QStringList lookups{settings.gateway};
    for (const QString &route : settings.excludeRoutes)
        lookups.append(networkAddress(route));
    QStringList paths = pathsOf(lookups);
    const QString unreachable =
        QStringLiteral("The VPN gateway %1 cannot be reached from this machine.").arg(settings.gateway);
    if (paths.first().isEmpty()) {
        *error = unreachable;
        return false;
    }
    auto intoTunnel = [this](const QString &path) { return path.section(QLatin1Char(' '), -1) == m_name; };
    const bool askAgain = std::any_of(paths.cbegin(), paths.cend(), intoTunnel);
    const QStringList previousApply = m_applied;
    const QStringList previousUndo = m_undo;
    undo();
    if (askAgain) {
        paths = pathsOf(lookups);
        if (paths.first().isEmpty()) {
            // Out of reach for now: the tunnel keeps its routes, so that traffic waits in it
            // rather than leaving outside it until the server is back.
            QString ignored;
            runIpBatch(previousApply, true, &ignored);
            m_applied = previousApply;
            m_undo = previousUndo;
            *error = unreachable;
            return false;
        }
    }

    const QString dev = QStringLiteral(" dev ") + m_name;
    QStringList apply;
    apply.append(QStringLiteral("link set dev %1%2 up")
                     .arg(m_name, settings.mtu > 0 ? QStringLiteral(" mtu %1").arg(settings.mtu) : QString()));
    auto add = [&](const QString &what, const QString &removal) {
        apply.append(what);
        m_undo.prepend(removal);
    };
    if (!settings.address4.isEmpty()) {
        const QString address = QStringLiteral("%1/%2").arg(settings.address4).arg(settings.prefix4);
        add(QStringLiteral("address add ") + address + dev, QStringLiteral("address del ") + address + dev);
    }
    if (!settings.address6.isEmpty()) {
        const QString address = QStringLiteral("%1/%2").arg(settings.address6).arg(settings.prefix6);
        add(QStringLiteral("address add ") + address + dev + QStringLiteral(" nodad"),
            QStringLiteral("address del ") + address + dev);
    }
    const QString host = settings.gateway +
                         (settings.gateway.contains(QLatin1Char(':')) ? QStringLiteral("/128") : QStringLiteral("/32"));
    add(QStringLiteral("route replace %1 %2").arg(host, paths.first()),
        QStringLiteral("route del %1 %2").arg(host, paths.first()));
    for (int i = 0; i < settings.excludeRoutes.size(); ++i) {
        // Nowhere to go now: there is nothing to keep outside the tunnel.
        const QString path = paths.value(i + 1);
        if (path.isEmpty())
            continue;
        const QString &route = settings.excludeRoutes.at(i);
        add(QStringLiteral("route replace %1 %2").arg(route, path), QStringLiteral("route del %1 %2").arg(route, path));
    }
    QStringList tunnelRoutes = settings.includeRoutes;
    if (settings.fullTunnel()) {
        // Two halves rather than the default route: they win over it without touching it, and
        // nothing of the system's own routes needs putting back.
        if (!settings.address4.isEmpty())
            tunnelRoutes << QStringLiteral("0.0.0.0/1") << QStringLiteral("128.0.0.0/1");
        if (!settings.address6.isEmpty())
            tunnelRoutes << QStringLiteral("::/1") << QStringLiteral("8000::/1");
    }
    for (const QString &route : qAsConst(tunnelRoutes))
        add(QStringLiteral("route replace ") + route + dev, QStringLiteral("route del ") + route + dev);

    QString failure;
    if (!runIpBatch(apply, false, &failure)) {
        undo();
        *error = QStringLiteral("The tunnel could not be configured: %1").arg(failure);
        return false;
    }
    m_applied = apply;
    record();
    qInfo().noquote() << QStringLiteral("OpenConnect tun") << m_name << QStringLiteral("configured:")
                      << (settings.fullTunnel() ? QStringLiteral("full tunnel")
                                                : QStringLiteral("%1 routes").arg(settings.includeRoutes.size()))
                      << QStringLiteral("and %1 excluded").arg(settings.excludeRoutes.size());

    QString missing;
    if (settings.dns.isEmpty()) {
        revertDns();
        *dnsState = QStringLiteral("none");
    } else if (!resolvedRunning || ChildProcess::systemToolPath(resolvectl, &missing).isEmpty()) {
        // The system's resolver file is left alone: rewriting it behind the resolver manager's
        // back outlives a crash and breaks the next network change.
        *dnsState = QStringLiteral("not applied: systemd-resolved is not running");
    } else {
        // Each call replaces what the device had: a reconfigured tunnel needs no revert first.
        QString why;
        QStringList domains = settings.domains;
        // A full tunnel takes every name lookup; a split one only its own domains.
        if (settings.fullTunnel())
            domains.append(QStringLiteral("~."));
        // An empty one clears what an earlier configuration set.
        if (domains.isEmpty())
            domains.append(QString());
        const bool ok =
            runSystemTool(resolvectl, QStringList{QStringLiteral("dns"), m_name} + settings.dns, {}, nullptr, &why) &&
            runSystemTool(resolvectl, QStringList{QStringLiteral("domain"), m_name} + domains, {}, nullptr, &why) &&
            runSystemTool(resolvectl,
                          {QStringLiteral("default-route"), m_name,
                           settings.fullTunnel() ? QStringLiteral("yes") : QStringLiteral("no")},
                          {}, nullptr, &why);
        m_dnsApplied = true;
        *dnsState = ok ? QStringLiteral("applied") : QStringLiteral("not applied: ") + why;
    }
    if (*dnsState != QLatin1String("applied") && *dnsState != QLatin1String("none"))
        qInfo().noquote() << QStringLiteral("OpenConnect tun") << m_name << QStringLiteral("DNS") << *dnsState;
    return true;
}

void TunDevice::record()
{
    ::mkdir(QFile::encodeName(m_folder.filePath(recordFolder)).constData(), 0700);
    QString error;
    const QStringList lines = m_undo + QStringList{QStringLiteral("link delete dev ") + m_name};
    if (!m_folder.writePrivate(recordFolder + QLatin1Char('/') + id(),
                               (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLatin1(), &error))
        qWarning().noquote() << QStringLiteral("OpenConnect tun") << m_name << error;
}

void TunDevice::removeLeftovers(const RuntimeFolder &folder)
{
    const QString path = folder.filePath(recordFolder);
    ::mkdir(QFile::encodeName(path).constData(), 0700);
    for (const QString &name : QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile file(path + QLatin1Char('/') + name);
        // Written by a helper into its own root-only folder: "ip -batch" lines of its own.
        QStringList lines;
        if (file.open(QIODevice::ReadOnly))
            lines = QString::fromLatin1(file.read(1024 * 1024)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QString error;
        runIpBatch(lines, true, &error);
        qInfo().noquote() << QStringLiteral("Removed what an earlier helper left of")
                          << lines.value(lines.size() - 1).section(QLatin1Char(' '), -1);
        file.remove();
    }
}

void TunDevice::revertDns()
{
    if (!m_dnsApplied)
        return;
    m_dnsApplied = false;
    QString error;
    if (!runSystemTool(resolvectl, {QStringLiteral("revert"), m_name}, {}, nullptr, &error))
        qWarning().noquote() << QStringLiteral("OpenConnect tun") << m_name << QStringLiteral("DNS revert:") << error;
}

void TunDevice::undo()
{
    // Each line on its own: one already gone (its device, its gateway) stops none of the others.
    QString error;
    if (!m_undo.isEmpty() && !runIpBatch(m_undo, true, &error))
        qInfo().noquote() << QStringLiteral("OpenConnect tun") << m_name << QStringLiteral("clean-up:") << error;
    m_undo.clear();
    m_applied.clear();
}

void TunDevice::cleanUp()
{
    if (m_fd < 0)
        return;
    if (stillOurs()) {
        revertDns();
        undo();
        // Gone even while the caller still holds its descriptor (a window that lost the bus).
        QString error;
        if (!runIpBatch({QStringLiteral("link delete dev ") + m_name}, false, &error))
            qWarning().noquote() << QStringLiteral("OpenConnect tun") << m_name << QStringLiteral("delete:") << error;
    } else {
        // The device went with its last descriptor; what it carried went with it, but the
        // routes on other devices stay unless taken back.
        m_dnsApplied = false;
        undo();
    }
    m_removed = true;
    ::close(m_fd);
    m_fd = -1;
    m_folder.remove(recordFolder + QLatin1Char('/') + id());
}

} // namespace Tavrix
