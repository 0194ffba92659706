#include "vpn/xrayshadosocks.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include "common/user.h"
#include "platform/engineprocesses.h"
#include "platform/paths.h"
#include "vpn/enginelog.h"
#include "vpn/engineprocess.h"
#include "vpn/xrayengine.h"

namespace Tavrix {

namespace {

constexpr int inboundTimeoutMs = 10000;
constexpr int checkTimeoutMs = 8000;
constexpr int stopGraceMs = 3000;
constexpr int watchIntervalMs = 1000;

QJsonObject outbound(const QString &protocol, const QJsonObject &settings, const QString &tag)
{
    return QJsonObject{
        {QStringLiteral("protocol"), protocol}, {QStringLiteral("settings"), settings}, {QStringLiteral("tag"), tag}};
}

QJsonObject rule(const QString &kind, const QJsonArray &values, const QString &outboundTag)
{
    return QJsonObject{{kind, values}, {QStringLiteral("outboundTag"), outboundTag}};
}

} // namespace

XrayShadosocks::XrayShadosocks(QObject *parent)
    : QObject(parent)
    , m_watch(new QTimer(this))
{
    m_watch->setInterval(watchIntervalMs);
    QObject::connect(m_watch, &QTimer::timeout, this, &XrayShadosocks::watchEngine);
}

QJsonObject XrayShadosocks::configDocument(const QString &address, int port, const QString &password,
                                           const QString &method)
{
    const QJsonObject server{{QStringLiteral("address"), address},
                             {QStringLiteral("port"), port},
                             {QStringLiteral("method"), method},
                             {QStringLiteral("password"), password}};
    const QJsonArray outbounds{
        outbound(QStringLiteral("shadowsocks"), QJsonObject{{QStringLiteral("servers"), QJsonArray{server}}},
                 QStringLiteral("proxy")),
        outbound(QStringLiteral("freedom"), QJsonObject{}, QStringLiteral("direct")),
        outbound(QStringLiteral("blackhole"), QJsonObject{}, QStringLiteral("block")),
    };
    const QJsonArray inbounds{
        QJsonObject{{QStringLiteral("port"), 10808},
                    {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
                    {QStringLiteral("protocol"), QStringLiteral("socks")},
                    {QStringLiteral("settings"),
                     QJsonObject{{QStringLiteral("auth"), QStringLiteral("noauth")}, {QStringLiteral("udp"), true}}},
                    {QStringLiteral("tag"), QStringLiteral("socks")}},
        QJsonObject{{QStringLiteral("port"), int(Xray::httpPort)},
                    {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
                    {QStringLiteral("protocol"), QStringLiteral("http")},
                    {QStringLiteral("settings"), QJsonObject{}},
                    {QStringLiteral("tag"), QStringLiteral("http")}},
    };
    const QJsonArray rules{
        rule(QStringLiteral("domain"), {QStringLiteral("domain:googleapis.cn"), QStringLiteral("domain:gstatic.com")},
             QStringLiteral("proxy")),
        rule(QStringLiteral("ip"), {QStringLiteral("geoip:private")}, QStringLiteral("direct")),
        rule(QStringLiteral("ip"), {QStringLiteral("geoip:cn")}, QStringLiteral("direct")),
        rule(QStringLiteral("domain"), {QStringLiteral("geosite:cn")}, QStringLiteral("direct")),
        rule(QStringLiteral("domain"), {QStringLiteral("geosite:geolocation-cn")}, QStringLiteral("direct")),
        QJsonObject{{QStringLiteral("outboundTag"), QStringLiteral("proxy")},
                    {QStringLiteral("port"), QStringLiteral("0-65535")}},
    };
    return QJsonObject{
        {QStringLiteral("outbounds"), outbounds},
        {QStringLiteral("inbounds"), inbounds},
        {QStringLiteral("routing"), QJsonObject{{QStringLiteral("domainStrategy"), QStringLiteral("IPIfNonMatch")},
                                                {QStringLiteral("rules"), rules}}},
        {QStringLiteral("log"), QJsonObject{{QStringLiteral("loglevel"), QStringLiteral("warning")}}},
    };
}

bool XrayShadosocks::conntShadosocksServer()
{
    emit connectingServer();
    // The system proxy goes on only once the engine carries traffic: pointing it at a port
    // nothing listens on would cut the desktop off the network.
    const IPBundlePtr bundle = User::instance()->activeBundle();
    if (!bundle)
        return fail(QStringLiteral("No server selected."));
    const QStringList parts = bundle->ip().split(QLatin1Char(':'));
    const QString serverAddress = parts.first();
    bool numeric = false;
    int serverPort = parts.last().toInt(&numeric);
    if (!numeric)
        serverPort = 0;
    const QJsonDocument config = QJsonDocument::fromJson(bundle->config().toUtf8());
    QString serverPassword = m_password;
    QString serverMethod = m_method;
    if (config.isObject()) {
        serverMethod = config.object().value(QStringLiteral("method")).toString();
        serverPassword = config.object().value(QStringLiteral("password")).toString();
    }

    createConfigFile(serverAddress, serverPort, serverPassword, serverMethod);
    if (!m_configWritten)
        return fail(QStringLiteral("The engine configuration could not be written: ") + getCongigPath());

    QString error;
    if (!Xray::freeInboundPort(&error))
        return fail(error);

    // Detached, its output would be lost: it goes to a file beside its configuration.
    qint64 pid = 0;
    if (!EngineProcesses::startDetached(Xray::engineName(),
                                        {QStringLiteral("run"), QStringLiteral("-c"), getCongigPath()},
                                        engineFolder() + QStringLiteral("xray.log"), &pid, &error)) {
        engineLog(error);
        return fail(QStringLiteral("Failed to start the process."));
    }
    m_pid = pid;
    QMetaObject::invokeMethod(m_watch, qOverload<>(&QTimer::start), Qt::QueuedConnection);

    const auto alive = [this] { return !m_cancelled && engineAlive(); };
    if (!Xray::waitForInbound(inboundTimeoutMs, alive)) {
        return fail(alive() ? QStringLiteral("Xray did not accept connections on %1 within %2 s.")
                                  .arg(Xray::proxyServer())
                                  .arg(inboundTimeoutMs / 1000)
                            : QStringLiteral("Xray ended before it accepted connections (see %1).")
                                  .arg(engineFolder() + QStringLiteral("xray.log")));
    }
    QString checkError;
    if (!Xray::checkThroughProxy(checkTimeoutMs, alive, &checkError))
        return fail(QStringLiteral("No answer through the Shadowsocks server (it is unreachable or refused our "
                                   "password): ") +
                    checkError);
    if (m_cancelled)
        return false;
    setNetworkProxy();
    // A stop that came while the proxy was being switched on must not leave it on.
    if (m_cancelled && m_proxyOn) {
        Xray::switchProxyOff();
        m_proxyOn = false;
    }
    return true;
}

bool XrayShadosocks::engineAlive() const
{
    const qint64 pid = m_pid;
    return EngineProcesses::isRunning(Xray::engineName(), pid);
}

void XrayShadosocks::watchEngine()
{
    if (m_pid <= 0 || engineAlive())
        return;
    m_watch->stop();
    m_pid = 0;
    qDebug() << "Xray process ended.";
    emit processExit();
    reportDisconnected();
}

bool XrayShadosocks::fail(const QString &text)
{
    engineLog(text);
    if (!m_cancelled && m_pid > 0)
        EngineProcesses::stop(Xray::engineName(), stopGraceMs);
    reportDisconnected();
    return false;
}

void XrayShadosocks::reportDisconnected()
{
    if (m_proxyOn || (!m_cancelled && Xray::proxyIsOurs())) {
        Xray::switchProxyOff();
        m_proxyOn = false;
    }
    if (!m_reported.exchange(true))
        emit disconnected();
}

void XrayShadosocks::setNetworkProxy()
{
    m_proxyOn = Xray::switchProxyOn();
    emit connected();
}

void XrayShadosocks::createConfigFile(const QString &address, int port, const QString &password, const QString &method)
{
    m_address = address;
    m_port = port;
    m_password = password;
    m_method = method;
    m_configWritten = false;
    switch (Xray::writeConfig(configDocument(address, port, password, method))) {
    case Xray::WriteResult::Written:
        m_configWritten = true;
        qDebug() << "Config file created successfully!";
        break;
    case Xray::WriteResult::NoPermissions:
        qDebug().noquote() << "Failed to set permissions for" << getCongigPath();
        break;
    case Xray::WriteResult::NoFolder:
    case Xray::WriteResult::NotOpened:
        qDebug() << "Failed to create config file.";
        break;
    }
}

void XrayShadosocks::disconnectServer()
{
    beginDisconnect();
    stopEngineAndProxy();
    finishDisconnect();
}

QFuture<bool> XrayShadosocks::disconnectServerLater()
{
    beginDisconnect();
    return runOffThread(this, &XrayShadosocks::stopEngineAndProxy, [this] { finishDisconnect(); });
}

void XrayShadosocks::beginDisconnect()
{
    m_cancelled = true;
    m_watch->stop();
}

// Waits for the engine to end (up to its grace time) and for the proxy setting: any thread.
void XrayShadosocks::stopEngineAndProxy()
{
    const int code = EngineProcesses::stop(Xray::engineName(), stopGraceMs);
    if (code == 0) {
        qDebug() << "V2Ray process terminated successfully.";
    } else {
        qDebug() << "Failed to terminate V2Ray process.";
        qDebug() << "Error output:"
                 << "no running Xray process";
    }
    Xray::switchProxyOff();
}

void XrayShadosocks::finishDisconnect()
{
    m_pid = 0;
    m_proxyOn = false;
    if (!m_reported.exchange(true))
        emit disconnected();
}

QString XrayShadosocks::getResourcesPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Xray");
}

QString XrayShadosocks::getCongigPath()
{
    return Xray::configPath();
}

} // namespace Tavrix
