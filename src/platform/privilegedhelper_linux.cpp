#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

#include "helper/helperbus.h"
#include "helperproto/wireguardconfig.h"
// Outline and split tunnelling
#include "helperproto/outlinesplit.h"
#include "platform/privilegedhelper.h"

namespace Tavrix {
namespace PrivilegedHelper {

namespace {

// A start answers once the engine is up: wg-quick and OpenVPN's first steps fit well within.
constexpr int startTimeoutMs = 30000;
// A stop answers once the engine has gone (it is killed after 5 s).
constexpr int stopTimeoutMs = 10000;
constexpr int shortTimeoutMs = 3000;

QDBusMessage call(const char *method, const QVariantList &arguments, int timeoutMs)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(QLatin1String(HelperBus::serviceName), QLatin1String(HelperBus::objectPath),
                                       QLatin1String(HelperBus::interfaceName), QLatin1String(method));
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message, QDBus::Block, timeoutMs);
}

QString errorText(const QDBusMessage &reply)
{
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

// QtDBus delivers signals to a slot by name.
class OutputReceiver : public QObject
{
    Q_OBJECT
public:
    OutputReceiver(QObject *parent, std::function<void(const QString &, const QString &)> lineRead)
        : QObject(parent)
        , m_lineRead(std::move(lineRead))
    {
    }

public slots:
    void onOutput(const QString &tunnelId, const QString &line) { m_lineRead(tunnelId, line); }

private:
    std::function<void(const QString &, const QString &)> m_lineRead;
};

QVariantMap wireGuardFields(const HelperProto::WireGuardConfig &config)
{
    namespace Key = HelperBus::WireGuardKey;
    QList<QVariantMap> peers;
    for (const HelperProto::WireGuardPeer &peer : config.peers) {
        QVariantMap fields{{QLatin1String(Key::publicKey), peer.publicKey},
                           {QLatin1String(Key::allowedIps), peer.allowedIps}};
        if (!peer.presharedKey.isEmpty())
            fields.insert(QLatin1String(Key::presharedKey), peer.presharedKey);
        if (!peer.endpoint.isEmpty())
            fields.insert(QLatin1String(Key::endpoint), peer.endpoint);
        if (peer.persistentKeepalive > 0)
            fields.insert(QLatin1String(Key::persistentKeepalive), uint(peer.persistentKeepalive));
        peers.append(fields);
    }
    QVariantMap fields{{QLatin1String(Key::privateKey), config.privateKey},
                       {QLatin1String(Key::addresses), config.addresses},
                       {QLatin1String(Key::peers), QVariant::fromValue(peers)}};
    if (!config.dns.isEmpty())
        fields.insert(QLatin1String(Key::dns), config.dns);
    if (config.mtu > 0)
        fields.insert(QLatin1String(Key::mtu), uint(config.mtu));
    if (config.listenPort > 0)
        fields.insert(QLatin1String(Key::listenPort), uint(config.listenPort));
    return fields;
}

} // namespace

bool isAvailable()
{
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QString name = QLatin1String(HelperBus::serviceName);
    if (bus.interface()->isServiceRegistered(name).value())
        return true;
    // Installed but not running yet: the bus starts it on the first call.
    const QDBusMessage activatable =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
    const QDBusMessage reply = bus.call(activatable, QDBus::Block, shortTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().toStringList().contains(name);
}

Started startOpenVpn(const QString &profile)
{
    Started started;
    const QDBusMessage reply = call("StartOpenVpn", {profile}, startTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        started.error = errorText(reply);
        return started;
    }
    const QDBusUnixFileDescriptor handle = reply.arguments().at(1).value<QDBusUnixFileDescriptor>();
    started.tunnelId = reply.arguments().at(0).toString();
    started.managementFd = handle.isValid() ? ::fcntl(handle.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    started.ok = started.managementFd >= 0;
    if (!started.ok)
        started.error = QStringLiteral("the helper gave no management link");
    return started;
}

Started startWireGuard(const QString &configuration)
{
    static const int peersType = qDBusRegisterMetaType<QList<QVariantMap>>();
    Q_UNUSED(peersType)
    Started started;
    HelperProto::WireGuardConfig config;
    if (!HelperProto::parseWireGuardConfig(configuration, &config, &started.error))
        return started;
    const QDBusMessage reply = call("StartWireGuard", {wireGuardFields(config)}, startTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        started.error = errorText(reply);
        return started;
    }
    started.tunnelId = reply.arguments().first().toString();
    started.ok = true;
    return started;
}

bool stop(const QString &tunnelId, QString *error)
{
    const QDBusMessage reply = call("Stop", {tunnelId}, stopTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = errorText(reply);
    return false;
}

void stopLater(const QString &tunnelId, QObject *context, std::function<void()> done)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(QLatin1String(HelperBus::serviceName), QLatin1String(HelperBus::objectPath),
                                       QLatin1String(HelperBus::interfaceName), QStringLiteral("Stop"));
    message << tunnelId;
    auto *watcher =
        new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(message, stopTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done();
    });
}

void watchOutput(QObject *context, std::function<void(const QString &tunnelId, const QString &line)> lineRead)
{
    auto *receiver = new OutputReceiver(context, std::move(lineRead));
    QDBusConnection::systemBus().connect(QLatin1String(HelperBus::serviceName), QLatin1String(HelperBus::objectPath),
                                         QLatin1String(HelperBus::interfaceName), QStringLiteral("TunnelOutput"),
                                         receiver, SLOT(onOutput(QString, QString)));
}

bool isRunning(const QString &tunnelId)
{
    const QDBusMessage reply = call("Status", {tunnelId}, shortTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

// kill switch
bool setKillSwitch(const HelperProto::KillSwitchRequest &request, QString *error)
{
    static const int listType = qDBusRegisterMetaType<QList<QVariantMap>>();
    Q_UNUSED(listType)
    namespace Key = HelperProto::KillSwitchKey;
    const auto addresses = [](const QList<HelperProto::KillSwitchAddress> &list) {
        QList<QVariantMap> out;
        for (const HelperProto::KillSwitchAddress &entry : list)
            out.append({{QLatin1String(Key::address), entry.address},
                        {QLatin1String(Key::port), uint(entry.port)},
                        {QLatin1String(Key::protocol), entry.protocol}});
        return QVariant::fromValue(out);
    };
    const QVariantMap fields{{QLatin1String(Key::state), HelperProto::killSwitchStateName(request.state)},
                             {QLatin1String(Key::endpoints), addresses(request.endpoints)},
                             {QLatin1String(Key::services), addresses(request.services)},
                             {QLatin1String(Key::interfaces), request.interfaces},
                             {QLatin1String(Key::dns), request.dns}};
    const QDBusMessage reply = call("SetKillSwitch", {fields}, stopTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = errorText(reply);
    return false;
}

// OpenConnect tun device
TunDevice createTun()
{
    TunDevice device;
    const QDBusMessage reply = call("CreateTun", {}, shortTimeoutMs * 2);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 3) {
        device.error = errorText(reply);
        return device;
    }
    const QDBusUnixFileDescriptor handle = reply.arguments().at(2).value<QDBusUnixFileDescriptor>();
    device.tunnelId = reply.arguments().at(0).toString();
    device.interfaceName = reply.arguments().at(1).toString();
    device.fd = handle.isValid() ? ::fcntl(handle.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    device.ok = device.fd >= 0;
    if (!device.ok) {
        device.error = QStringLiteral("the helper gave no tunnel device");
        stop(device.tunnelId);
    }
    return device;
}

bool configureTun(const QString &tunnelId, const QVariantMap &settings, QString *dnsState, QString *error)
{
    // Many routes take the helper a moment.
    const QDBusMessage reply = call("ConfigureTun", {tunnelId, settings}, startTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        *error = errorText(reply);
        return false;
    }
    *dnsState = reply.arguments().first().toString();
    return true;
}

// Outline and split tunnelling
Started startOutline(const QString &host, uint port, const QString &password, const QString &method)
{
    namespace Key = HelperProto::OutlineKey;
    Started started;
    const HelperProto::OutlineRequest request{host, port, password, method};
    if (!HelperProto::validateOutlineRequest(request, &started.error))
        return started;
    const QVariantMap fields{{QLatin1String(Key::host), host},
                             {QLatin1String(Key::port), port},
                             {QLatin1String(Key::password), password},
                             {QLatin1String(Key::method), method}};
    const QDBusMessage reply = call("StartOutline", {fields}, startTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        started.error = errorText(reply);
        return started;
    }
    started.tunnelId = reply.arguments().first().toString();
    started.ok = true;
    return started;
}

bool setBypassPrograms(const QStringList &programs, QString *error)
{
    const QDBusMessage reply = call("SetBypassPrograms", {programs}, stopTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = errorText(reply);
    return false;
}

// Tunnel health
HelperProto::WireGuardStats wireGuardHealth(const QString &tunnelId, QString *error)
{
    HelperProto::WireGuardStats stats;
    const QDBusMessage reply = call("WireGuardHealth", {tunnelId}, shortTimeoutMs);
    const QVariantList values = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || values.size() != 3) {
        *error = reply.type() == QDBusMessage::ReplyMessage ? QStringLiteral("unexpected answer") : errorText(reply);
        return stats;
    }
    stats.ok = true;
    stats.handshakeAgeSeconds = values.at(0).toLongLong();
    stats.rxBytes = values.at(1).toULongLong();
    stats.txBytes = values.at(2).toULongLong();
    return stats;
}

} // namespace PrivilegedHelper
} // namespace Tavrix

#include "privilegedhelper_linux.moc"
