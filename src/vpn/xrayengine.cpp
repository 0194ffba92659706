#include "vpn/xrayengine.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include "common/config.h"
#include "common/serviceurl.h"
#include "platform/engineprocesses.h"
#include "platform/paths.h"
#include "platform/privatefile.h"
#include "platform/systemproxy.h"
#include "vpn/enginelog.h"

namespace Tavrix {
namespace Xray {

namespace {

const QString localHost = QStringLiteral("127.0.0.1");
constexpr int leftoverStopGraceMs = 3000;

bool inboundAccepts(int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(localHost, httpPort);
    const bool accepted = socket.waitForConnected(timeoutMs);
    socket.abort();
    return accepted;
}

// The service's public-IP lookup; before the configuration named one, a configuration
// source of the service (any answer of the service proves the way through).
QUrl serviceCheckAddress()
{
    const QString lookup = Config::publicIpUrl();
    if (!lookup.isEmpty())
        return QUrl(lookup);
    return QUrl(
        ServiceUrl::address(QLatin1String(ServiceUrl::directOrigin) + QStringLiteral("/apis/getDomainData.php")));
}

bool isOnThisMachine(const QUrl &url)
{
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

} // namespace

QString proxyServer()
{
    return localHost + QLatin1Char(':') + QString::number(httpPort);
}

QString engineName()
{
    return QStringLiteral("Xray/xray.exe");
}

QString configPath()
{
    return engineFolder() + QStringLiteral("config.json");
}

WriteResult writeConfig(const QJsonObject &document)
{
    const QString path = configPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return WriteResult::NoFolder;
    // A new file, created owner-only before any content is in it (an earlier one may have been
    // readable by others).
    QString error;
    if (!writePrivateFile(path, QJsonDocument(document).toJson(QJsonDocument::Indented), &error)) {
        engineLog(QStringLiteral("Could not write ") + path + QStringLiteral(": ") + error);
        return WriteResult::NotOpened;
    }
    return WriteResult::Written;
}

bool freeInboundPort(QString *error)
{
    // The look-up of leftovers reads every process's details: only when the port is taken.
    if (!inboundAccepts(300))
        return true;
    if (!EngineProcesses::find(engineName()).isEmpty()) {
        engineLog(QStringLiteral("Stopping the proxy engine left running by an earlier connection."));
        EngineProcesses::stop(engineName(), leftoverStopGraceMs);
    }
    if (inboundAccepts(300)) {
        *error = QStringLiteral("Another program listens on %1: the proxy engine cannot use it.").arg(proxyServer());
        return false;
    }
    return true;
}

bool waitForInbound(int timeoutMs, const std::function<bool()> &alive)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!alive())
            return false;
        if (inboundAccepts(200))
            return true;
        // A refused local connect costs next to nothing; a coarse poll would add its whole
        // interval to every connect (the engine listens some 40 ms after its start).
        QThread::msleep(5);
    }
    return false;
}

static bool requestService(int timeoutMs, const std::function<bool()> &alive, bool throughInbound, bool report,
                           QString *error);

bool checkThroughProxy(int timeoutMs, const std::function<bool()> &alive, QString *error)
{
    return requestService(timeoutMs, alive, true, true, error);
}

bool checkService(int timeoutMs, const std::function<bool()> &alive, bool throughInbound, QString *error)
{
    // Every few seconds while connected: only what goes wrong is worth a log line.
    return requestService(timeoutMs, alive, throughInbound, false, error);
}

static bool requestService(int timeoutMs, const std::function<bool()> &alive, bool throughInbound, bool report,
                           QString *error)
{
    const QUrl url = serviceCheckAddress();
    if (!url.isValid() || url.host().isEmpty()) {
        *error = QStringLiteral("the service's address check has no usable address (%1)").arg(url.toString());
        return false;
    }
    if (isOnThisMachine(url)) {
        if (report)
            engineLog(
                QStringLiteral("The service runs on this machine (%1): no check through the proxy.").arg(url.host()));
        return true;
    }
    ServiceUrl::trustServiceCertificate();
    // A manager of this thread, with our inbound as its only way out.
    QNetworkAccessManager manager;
    manager.setProxy(throughInbound ? QNetworkProxy(QNetworkProxy::HttpProxy, localHost, httpPort)
                                    : QNetworkProxy(QNetworkProxy::NoProxy));
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = manager.get(request);

    QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (deadline.hasExpired() || !alive())
            loop.quit();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    watch.start();
    if (!reply->isFinished())
        loop.exec();
    watch.stop();

    const QString what = QStringLiteral("the service's address check (%1)").arg(url.host());
    bool ok = false;
    if (!reply->isFinished()) {
        *error = alive() ? what + QStringLiteral(" got no answer within %1 s").arg(timeoutMs / 1000)
                         : what + QStringLiteral(" was cut short: the engine ended or the connect was cancelled");
        reply->abort();
    } else {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        // Over TLS any answer comes from the service itself; in plain HTTP the engine reports
        // its own failures as 5xx.
        const bool secure = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
        if (status.isValid() && (secure || status.toInt() < 500)) {
            ok = true;
            static const QRegularExpression address(QStringLiteral("(\\b\\d{1,3}(\\.\\d{1,3}){3}\\b)"));
            const QRegularExpressionMatch match = address.match(QString::fromUtf8(reply->readAll()));
            if (report)
                engineLog(
                    match.hasMatch()
                        ? QStringLiteral("Through the proxy the service sees the address %1.").arg(match.captured(1))
                        : QStringLiteral("Through the proxy the service answered (HTTP %1).").arg(status.toInt()));
        } else if (status.isValid()) {
            *error = what + QStringLiteral(" answered HTTP %1").arg(status.toInt());
        } else {
            *error = what + QStringLiteral(" failed: ") + reply->errorString();
        }
    }
    delete reply;
    return ok;
}

bool switchProxyOn()
{
    QString where;
    const bool ok = SystemProxy::enable(proxyServer(), &where);
    engineLog(ok ? QStringLiteral("System proxy on (%1) in %2").arg(proxyServer(), where)
                 : QStringLiteral("System proxy could not be switched on: %1").arg(where));
    return ok;
}

void switchProxyOff()
{
    QString where;
    const bool ok = SystemProxy::disable(&where);
    engineLog(ok ? QStringLiteral("System proxy off in %1").arg(where)
                 : QStringLiteral("System proxy could not be switched off: %1").arg(where));
}

bool proxyIsOurs()
{
    return SystemProxy::isOn(proxyServer());
}

void clearStaleSystemProxy()
{
    if ((!proxyIsOurs() && !SystemProxy::hasSavedSettings()) || !EngineProcesses::find(engineName()).isEmpty())
        return;
    engineLog(QStringLiteral("The system proxy still pointed at %1 but no proxy engine runs (the client ended while "
                             "connected); switching it off.")
                  .arg(proxyServer()));
    switchProxyOff();
}

QString maskSecrets(QString text, const QStringList &secrets)
{
    for (const QString &secret : secrets) {
        if (!secret.isEmpty())
            text.replace(secret, QStringLiteral("<hidden>"));
    }
    return text;
}

} // namespace Xray
} // namespace Tavrix
