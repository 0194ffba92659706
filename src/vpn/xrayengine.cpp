#include "vpn/xrayengine.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QThread>

#include "platform/engineprocesses.h"
#include "platform/paths.h"
#include "platform/privatefile.h"
#include "platform/systemproxy.h"
#include "vpn/enginelog.h"

namespace Tavrix {
namespace Xray {

namespace {

const QString localHost = QStringLiteral("127.0.0.1");
// Answers 204 anywhere in the world; the generated routing sends its domain to the proxy.
const QByteArray checkHost = "www.gstatic.com";
const QByteArray checkPath = "/generate_204";
constexpr int leftoverStopGraceMs = 3000;

bool inboundAccepts(int timeoutMs)
{
    QTcpSocket socket;
    socket.connectToHost(localHost, httpPort);
    const bool accepted = socket.waitForConnected(timeoutMs);
    socket.abort();
    return accepted;
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
        QThread::msleep(30);
    }
    return false;
}

bool checkThroughProxy(int timeoutMs, const std::function<bool()> &alive)
{
    QDeadlineTimer deadline(timeoutMs);
    QTcpSocket socket;
    socket.connectToHost(localHost, httpPort);
    if (!socket.waitForConnected(qMax(1, int(deadline.remainingTime()))))
        return false;
    socket.write("GET http://" + checkHost + checkPath + " HTTP/1.1\r\nHost: " + checkHost +
                 "\r\nUser-Agent: TavrixVPN/1.0\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    while (!reply.contains('\n') && !deadline.hasExpired() && alive()) {
        if (socket.waitForReadyRead(qMin(200, qMax(1, int(deadline.remainingTime())))))
            reply += socket.readAll();
        else if (socket.state() != QAbstractSocket::ConnectedState)
            break;
    }
    socket.abort();
    // "HTTP/1.1 204 No Content": the engine's own failures come back as 5xx.
    const QList<QByteArray> words = reply.left(reply.indexOf('\n')).split(' ');
    if (words.size() < 2 || !words.at(0).startsWith("HTTP/"))
        return false;
    const int code = words.at(1).toInt();
    return code >= 100 && code < 500;
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
    if (!proxyIsOurs() || !EngineProcesses::find(engineName()).isEmpty())
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
