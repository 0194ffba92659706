#include "vpn/v2ray.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include "common/user.h"
#include "platform/engineprocesses.h"
#include "vpn/enginelog.h"
#include "vpn/engineprocess.h"
#include "vpn/xrayengine.h"

namespace Tavrix {

namespace {

constexpr int startTimeoutMs = 30000;
constexpr int inboundTimeoutMs = 10000;
constexpr int checkTimeoutMs = 8000;
constexpr int stopGraceMs = 3000;

// Ids and passwords anywhere in the document, for masking the engine's output.
void collectSecrets(const QJsonValue &value, QStringList *secrets)
{
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if ((it.key() == QLatin1String("id") || it.key() == QLatin1String("password")) && it.value().isString())
                secrets->append(it.value().toString());
            else
                collectSecrets(it.value(), secrets);
        }
    } else if (value.isArray()) {
        for (const QJsonValue &item : value.toArray())
            collectSecrets(item, secrets);
    }
}

} // namespace

V2ray::V2ray(QObject *parent)
    : QObject(parent)
{
}

V2ray::~V2ray()
{
    if (m_process && m_process->isRunning()) {
        m_process->disconnect(this);
        m_process->stop(stopGraceMs);
        if (m_proxyOn && !m_cancelled)
            resetNetworkProxy();
    }
}

void V2ray::cancel()
{
    m_cancelled = true;
    m_reported = true;
}

void V2ray::setNetworkProxy()
{
    m_proxyOn = Xray::switchProxyOn();
    emit connected();
}

void V2ray::resetNetworkProxy()
{
    Xray::switchProxyOff();
    m_proxyOn = false;
}

bool V2ray::connectServer()
{
    emit connectingServer();
    // The system proxy goes on only once the engine carries traffic: pointing it at a port
    // nothing listens on would cut the desktop off the network.
    const IPBundlePtr bundle = User::instance()->activeBundle();
    const QJsonDocument document = QJsonDocument::fromJson(bundle ? bundle->config().toUtf8() : QByteArray());
    if (!document.isObject())
        return fail(QStringLiteral("Invalid JSON configuration."));
    m_secrets.clear();
    collectSecrets(document.object(), &m_secrets);

    switch (Xray::writeConfig(document.object())) {
    case Xray::WriteResult::NoFolder:
        return fail(QStringLiteral("Failed to create directory: ") + QFileInfo(Xray::configPath()).absolutePath());
    case Xray::WriteResult::NotOpened:
        return fail(QStringLiteral("Failed to open config file for writing: ") + Xray::configPath());
    case Xray::WriteResult::NoPermissions:
        return fail(QStringLiteral("Failed to set permissions for config file: ") + Xray::configPath());
    case Xray::WriteResult::Written:
        break;
    }

    QString error;
    if (!Xray::freeInboundPort(&error))
        return fail(error);

    bool started = false;
    if (QThread::currentThread() == thread())
        started = startEngine();
    else
        QMetaObject::invokeMethod(
            this, [this] { return startEngine(); }, Qt::BlockingQueuedConnection, &started);
    if (!started)
        return fail(QStringLiteral("Failed to start V2Ray process."));

    const auto alive = [this] { return m_engineRunning && !m_cancelled; };
    if (!Xray::waitForInbound(inboundTimeoutMs, alive)) {
        return fail(m_engineRunning && !m_cancelled
                        ? QStringLiteral("V2Ray did not accept connections on %1 within %2 s.")
                              .arg(Xray::proxyServer())
                              .arg(inboundTimeoutMs / 1000)
                        : QStringLiteral("V2Ray ended before it accepted connections."));
    }
    QString checkError;
    if (!Xray::checkThroughProxy(checkTimeoutMs, alive, &checkError))
        return fail(QStringLiteral("No answer through the V2Ray server (it is unreachable or refused our id): ") +
                    checkError);
    if (m_cancelled)
        return false;
    setNetworkProxy();
    // A stop that came while the proxy was being switched on has switched it off already
    // or will; never leave it on behind a stop.
    if (m_cancelled && m_proxyOn)
        resetNetworkProxy();
    return true;
}

bool V2ray::startEngine()
{
    if (!m_process) {
        m_process = new EngineProcess(QStringLiteral("V2Ray"), this);
        // The engine may quote its configuration: its lines are logged with secrets masked.
        m_process->setLogOutput(false);
        QObject::connect(m_process, &EngineProcess::lineRead, this, [this](const QString &line) {
            engineLog(QStringLiteral("V2Ray > ") + Xray::maskSecrets(line, m_secrets));
        });
        QObject::connect(m_process, &EngineProcess::finished, this, &V2ray::onEngineFinished);
    }
    const bool started = m_process->start(EngineProcesses::enginePath(QStringLiteral("Xray/xray.exe")),
                                          {QStringLiteral("-c"), Xray::configPath()}, startTimeoutMs);
    if (!started)
        engineLog(m_process->errorString());
    m_engineRunning = started;
    return started;
}

void V2ray::onEngineFinished()
{
    m_engineRunning = false;
    qDebug() << "V2Ray process finished.";
    reportDisconnected();
}

bool V2ray::fail(const QString &text)
{
    engineLog(text);
    if (m_engineRunning && !m_cancelled) {
        if (QThread::currentThread() == thread())
            m_process->stop(stopGraceMs);
        else
            QMetaObject::invokeMethod(
                this, [this] { m_process->stop(stopGraceMs); }, Qt::BlockingQueuedConnection);
    }
    reportDisconnected();
    return false;
}

void V2ray::reportDisconnected()
{
    // A cancelled runner's engine was stopped by another runner, which answers for the proxy
    // (and a new connection may own it by now).
    if (m_cancelled)
        return;
    if (m_proxyOn || Xray::proxyIsOurs())
        resetNetworkProxy();
    if (!m_reported.exchange(true))
        emit disconnected();
}

void V2ray::disconnectServer()
{
    stopEngineAndProxy();
    m_proxyOn = false;
    if (!m_reported.exchange(true))
        emit disconnected();
}

QFuture<bool> V2ray::disconnectServerLater()
{
    return runOffThread(this, &V2ray::stopEngineAndProxy, [this] {
        m_proxyOn = false;
        if (!m_reported.exchange(true))
            emit disconnected();
    });
}

// Waits for the engine to end (up to its grace time) and for the proxy setting: any thread.
void V2ray::stopEngineAndProxy()
{
    const int code = EngineProcesses::stop(Xray::engineName(), stopGraceMs);
    if (code == 0) {
        qDebug() << "V2Ray process terminated successfully.";
    } else {
        qDebug() << "Failed to terminate the V2Ray process.";
        qDebug() << "Error:"
                 << "no running V2Ray process";
    }
    Xray::switchProxyOff();
}

} // namespace Tavrix
