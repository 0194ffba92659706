#include "helper/outlinetunnel.h"

#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "helper/systemcommand.h"
#include "helperproto/outlinesplit.h"

namespace Tavrix {

namespace {

// The engine resolves the server, starts its Shadowsocks helpers and checks the key: seconds.
constexpr int upWaitMs = 30000;
const QString secretSuffix = QStringLiteral(".key");
const QString upLine = QStringLiteral("tun2socks: tunnel up on ");
// Each slot owns six ports below 1024 (only root may listen there), of which it takes three
// that are free: no user can listen in ss-redir's place and receive the redirected traffic.
constexpr int firstPort = 600;
constexpr int portsPerSlot = 6;

namespace Key = HelperProto::OutlineKey;

bool portFree(int port)
{
    for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
        const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
        if (!bound)
            return false;
    }
    return true;
}

// Every key known and of its type; anything else is refused before a field is used.
bool readRequest(const QVariantMap &fields, HelperProto::OutlineRequest *request, QString *error)
{
    const QStringList known{QLatin1String(Key::host), QLatin1String(Key::port), QLatin1String(Key::password),
                            QLatin1String(Key::method)};
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it) {
        if (!known.contains(it.key())) {
            *error = QStringLiteral("Outline request: unknown field \"%1\"").arg(it.key().left(40));
            return false;
        }
    }
    for (const char *key : {Key::host, Key::password, Key::method}) {
        if (fields.value(QLatin1String(key)).userType() != QMetaType::QString) {
            *error = QStringLiteral("Outline request: %1 must be a string").arg(QLatin1String(key));
            return false;
        }
    }
    if (fields.value(QLatin1String(Key::port)).userType() != QMetaType::UInt) {
        *error = QStringLiteral("Outline request: Port must be an unsigned number");
        return false;
    }
    request->host = fields.value(QLatin1String(Key::host)).toString();
    request->port = fields.value(QLatin1String(Key::port)).toUInt();
    request->password = fields.value(QLatin1String(Key::password)).toString();
    request->method = fields.value(QLatin1String(Key::method)).toString();
    return HelperProto::validateOutlineRequest(*request, error);
}

} // namespace

OutlineTunnel::OutlineTunnel(const QString &id, int slot, const RuntimeFolder &folder, QObject *parent)
    : Tunnel(id, QStringLiteral("Outline"), folder, parent)
    , m_slot(slot)
{
}

QString OutlineTunnel::interfaceName() const
{
    // A "tun" device by name too: the kill switch lets it out, and the network watch takes it
    // for a tunnel rather than a change of the machine's network.
    return QStringLiteral("tuntvxol%1").arg(m_slot);
}

bool OutlineTunnel::start(const QVariantMap &fields, QString *error)
{
    HelperProto::OutlineRequest request;
    if (!readRequest(fields, &request, error))
        return false;
    QStringList ports;
    for (int port = firstPort + m_slot * portsPerSlot; port < firstPort + (m_slot + 1) * portsPerSlot; ++port) {
        if (ports.size() < 3 && portFree(port))
            ports << QString::number(port);
    }
    if (ports.size() < 3) {
        *error = QStringLiteral("No free local ports for the Outline tunnel.");
        return false;
    }
    // Root's alone (0600 in a 0700 folder); gone once the engine has read it.
    if (!writeFile(secretSuffix, request.password.toUtf8(), error))
        return false;
    const QString net = QStringLiteral("10.0.%1.").arg(85 + m_slot);
    const QStringList arguments{QStringLiteral("-tunName"),
                                interfaceName(),
                                QStringLiteral("-tunDNS"),
                                QStringLiteral("1.1.1.1,9.9.9.9"),
                                QStringLiteral("-tunAddr"),
                                net + QLatin1Char('2'),
                                QStringLiteral("-tunGw"),
                                net + QLatin1Char('1'),
                                QStringLiteral("-tunMask"),
                                QStringLiteral("255.255.255.0"),
                                QStringLiteral("-proxyHost"),
                                request.host,
                                QStringLiteral("-proxyPort"),
                                QString::number(request.port),
                                QStringLiteral("-proxyPasswordFile"),
                                filePath(secretSuffix),
                                QStringLiteral("-proxyCipher"),
                                request.method,
                                QStringLiteral("-slot"),
                                QString::number(m_slot),
                                QStringLiteral("-localPorts"),
                                ports.join(QLatin1Char(','))};
    // Its working files go to the helper's own folder, not a shared /tmp.
    if (!startEngine(QStringLiteral("tun2socks"), arguments, {QStringLiteral("TMPDIR=") + m_folder.path()}, error))
        return false;
    connect(m_child, &ChildProcess::lineRead, this, [this](const QString &line) {
        if (line.startsWith(upLine)) {
            removeFile(secretSuffix);
            markUp();
        }
    });
    QTimer::singleShot(upWaitMs, this, [this] {
        if (!isUp())
            fail(QStringLiteral("the Outline tunnel did not come up within %1 s").arg(upWaitMs / 1000));
    });
    return true;
}

void OutlineTunnel::cleanUp()
{
    // The engine takes all of this down itself on SIGTERM; after a SIGKILL nothing of it may
    // stay. Only this slot's names: other users' tunnels are untouched.
    const QString slot = QString::number(m_slot);
    const QString mark = QStringLiteral("0x%1").arg(0x56540000 + m_slot, 0, 16);
    const QString routeTable = QString::number(8600 + m_slot);
    runSystemCommand(QStringLiteral("nft"), {QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"),
                                             QStringLiteral("tavrixvpn_outline_") + slot});
    for (int i = 0; i < 4; ++i) {
        if (runSystemCommand(QStringLiteral("ip"),
                             {QStringLiteral("rule"), QStringLiteral("del"), QStringLiteral("fwmark"), mark,
                              QStringLiteral("lookup"), routeTable}) != 0)
            break;
    }
    runSystemCommand(QStringLiteral("ip"),
                     {QStringLiteral("route"), QStringLiteral("flush"), QStringLiteral("table"), routeTable});
    runSystemCommand(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("del"), interfaceName()});
    runSystemCommand(QStringLiteral("ip"), {QStringLiteral("route"), QStringLiteral("flush"), QStringLiteral("proto"),
                                            QString::number(100 + m_slot)});
}

} // namespace Tavrix
