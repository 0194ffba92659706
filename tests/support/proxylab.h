#pragma once

// Real proxy servers for the Xray engine tests, in the server namespace of a NetnsLab:
//
//   ss-server (shadowsocks-libev) on 10.231.0.1:8388, chacha20-ietf-poly1305
//   v2ray VMess server on 10.231.0.1:10086 (TCP)
//   an HTTP server on the inside address 198.18.100.1:80, reachable only through a proxy
//   the development service on the inside address, port 8443, as "service.lab.test"
//
// The proxy servers resolve "inside.lab.test" and "service.lab.test" to the inside address
// (a hosts file only the server namespace sees); in the client namespace neither name
// resolves, so the engines' check through the server reaches the service only through the
// proxy. ProxyClient drives the controller program (tavrix-proxy-client) in the client
// namespace with its own XDG folders, so the system proxy record is its own, pointed at that
// service.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

#include "labdriver.h"

namespace TavrixTest {

class ProxyServers
{
public:
    static constexpr int shadowsocksPort = ShadowsocksServer::port;
    static constexpr int vmessPort = 10086;
    static constexpr int webPort = 80;
    static constexpr const char *method = ShadowsocksServer::method;
    static constexpr const char *password = "sspass-lab-Xq7";
    static constexpr const char *vmessId = "a6a2e66d-2203-ecd5-419a-0e5e85bb5b10";
    static constexpr const char *insideName = NetnsLab::insideName;
    static constexpr const char *serviceName = "service.lab.test";
    static constexpr int servicePort = 8443;
    // What the inside web server answers at /inside.txt.
    static constexpr const char *insideText = "tavrix-inside-web";

    explicit ProxyServers(NetnsLab &lab)
        : m_lab(lab)
        , m_dir(lab.dir() + QStringLiteral("/proxy"))
    {
    }

    ~ProxyServers() { stop(); }

    QString webRoot() const { return m_dir + QStringLiteral("/web"); }

    // The service as the client reaches it, and the certificate that proves it.
    static QString serviceUrl()
    {
        return QStringLiteral("https://%1:%2").arg(QLatin1String(serviceName)).arg(servicePort);
    }
    static QString serviceCa(const NetnsLab &lab) { return lab.dir() + QStringLiteral("/proxy/service-cert/cert.pem"); }
    // The paths of the requests the service received (from inside the server namespace).
    QStringList serviceRequests()
    {
        QByteArray output;
        m_lab.exec(m_lab.serverNs(), curl({}, "/__control/requests"), &output, 10000);
        QStringList paths;
        for (const QJsonValue &request : QJsonDocument::fromJson(output).array())
            paths << request.toObject().value(QStringLiteral("path")).toString();
        return paths;
    }
    // Sets a test switch of the service, e.g. ("/api/ip", "down") or ("/api/ip", "normal").
    bool setService(const QString &path, const QString &mode)
    {
        QByteArray output;
        return m_lab.exec(m_lab.serverNs(),
                          curl({"-d", QStringLiteral("path=%1&mode=%2").arg(path, mode)}, "/__control/set"), &output,
                          10000) == 0 &&
               output == "ok";
    }

    // Writes a file of `megabytes` MiB into the web root (for downloads), returns its URL path.
    QString addDownload(int megabytes)
    {
        const QString name = QStringLiteral("/download-%1.bin").arg(megabytes);
        QFile file(webRoot() + name);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            const QByteArray block(1 << 20, 'x');
            for (int i = 0; i < megabytes; ++i)
                file.write(block);
        }
        return name;
    }

    // The proxy server of one kind dies at once (SIGKILL); start() brings all back.
    void killServer(bool shadowsocks)
    {
        QProcess *server = shadowsocks ? m_ss : m_vmess;
        if (server && server->processId() > 0)
            ::kill(pid_t(server->processId()), SIGKILL);
    }

    bool start(QString *error)
    {
        stop();
        QDir().mkpath(webRoot());
        writeFile(webRoot() + QStringLiteral("/inside.txt"), insideText);
        // Read by every program "ip netns exec" starts in the server namespace from now on.
        writeFile(
            QStringLiteral("/etc/netns/%1/hosts").arg(m_lab.serverNs()),
            QStringLiteral("127.0.0.1 localhost\n%1 %2 %3\n")
                .arg(QLatin1String(NetnsLab::insideAddress), QLatin1String(insideName), QLatin1String(serviceName))
                .toLatin1());
        const QJsonObject vmess{
            {"log", QJsonObject{{"loglevel", "warning"}}},
            {"inbounds",
             QJsonArray{QJsonObject{
                 {"listen", NetnsLab::serverAddress},
                 {"port", vmessPort},
                 {"protocol", "vmess"},
                 {"settings", QJsonObject{{"clients", QJsonArray{QJsonObject{{"id", vmessId}, {"alterId", 0}}}}}},
                 {"streamSettings", QJsonObject{{"network", "tcp"}}}}}},
            {"outbounds", QJsonArray{QJsonObject{{"protocol", "freedom"}, {"settings", QJsonObject{}}}}}};
        writeFile(path("v2ray-server.json"), QJsonDocument(vmess).toJson());

        m_web = m_lab.start(m_lab.serverNs(),
                            {"python3", "-m", "http.server", QString::number(webPort), "--bind",
                             NetnsLab::insideAddress, "--directory", webRoot()},
                            path("web.log"));
        m_ss = ShadowsocksServer::start(m_lab, m_dir, QString::fromLatin1(password));
        m_vmess = m_lab.start(m_lab.serverNs(), {"v2ray", "-config", path("v2ray-server.json")}, path("v2ray.log"));
        m_service =
            m_lab.start(m_lab.serverNs(),
                        {serviceProgram(), "--host", NetnsLab::insideAddress, "--port", QString::number(servicePort),
                         "--cert-dir", m_dir + QStringLiteral("/service-cert"), "--name", serviceName},
                        path("service.log"));
        if (!m_web || !m_ss || !m_vmess || !m_service || !m_lab.waitForListener(m_lab.serverNs(), webPort) ||
            !m_lab.waitForListener(m_lab.serverNs(), shadowsocksPort) ||
            !m_lab.waitForListener(m_lab.serverNs(), vmessPort) ||
            !m_lab.waitForListener(m_lab.serverNs(), servicePort)) {
            *error = QStringLiteral("the proxy servers did not start, see ") + m_dir;
            return false;
        }
        return true;
    }

    void stop()
    {
        for (QProcess **process : {&m_web, &m_ss, &m_vmess, &m_service}) {
            if (*process)
                m_lab.stop(*process);
            *process = nullptr;
        }
    }

    // The "config" of a type-4 server entry.
    static QString shadowsocksConfig(const QString &secret = QLatin1String(password))
    {
        return QString::fromUtf8(
            QJsonDocument(QJsonObject{{"method", method}, {"password", secret}}).toJson(QJsonDocument::Compact));
    }

    // The "config" of a type-6 server entry: a whole engine configuration for our VMess server.
    static QString vmessConfig(const QString &id = QLatin1String(vmessId), int port = vmessPort)
    {
        const QJsonObject user{{"id", id}, {"alterId", 0}, {"security", "auto"}};
        const QJsonObject config{
            {"log", QJsonObject{{"loglevel", "warning"}}},
            {"inbounds", QJsonArray{QJsonObject{{"tag", "socks-in"},
                                                {"listen", "127.0.0.1"},
                                                {"port", 10808},
                                                {"protocol", "socks"},
                                                {"settings", QJsonObject{{"auth", "noauth"}, {"udp", true}}}},
                                    QJsonObject{{"tag", "http-in"},
                                                {"listen", "127.0.0.1"},
                                                {"port", 10809},
                                                {"protocol", "http"},
                                                {"settings", QJsonObject{}}}}},
            {"outbounds",
             QJsonArray{QJsonObject{{"tag", "proxy"},
                                    {"protocol", "vmess"},
                                    {"settings",
                                     QJsonObject{{"vnext", QJsonArray{QJsonObject{{"address", NetnsLab::serverAddress},
                                                                                  {"port", port},
                                                                                  {"users", QJsonArray{user}}}}}}},
                                    {"streamSettings", QJsonObject{{"network", "tcp"}}}},
                        QJsonObject{{"tag", "direct"}, {"protocol", "freedom"}, {"settings", QJsonObject{}}}}}};
        return QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact));
    }

private:
    QString path(const char *name) const { return m_dir + QLatin1Char('/') + QLatin1String(name); }

    static QString serviceProgram()
    {
        const QString dir = qEnvironmentVariableIsSet("TAVRIX_BIN_DIR")
                                ? qEnvironmentVariable("TAVRIX_BIN_DIR")
                                : QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
        return QDir(dir).filePath(QStringLiteral("tavrix-devservice"));
    }

    QStringList curl(const QStringList &options, const char *path) const
    {
        return QStringList{"curl", "-s", "-m", "5", "--cacert", serviceCa(m_lab)} + options +
               QStringList{serviceUrl() + QLatin1String(path)};
    }

    NetnsLab &m_lab;
    QString m_dir;
    QProcess *m_web = nullptr;
    QProcess *m_ss = nullptr;
    QProcess *m_vmess = nullptr;
    QProcess *m_service = nullptr;
};

// The controller program inside the client namespace, with XDG folders of its own.
class ProxyClient : public LabDriver
{
public:
    // `program` defaults to the one beside the client (and its engine stand-in); `user` runs
    // it as that ordinary user (see LabDriver::launch).
    explicit ProxyClient(NetnsLab &lab, const QString &program = QString(), const QString &user = QString())
        : LabDriver(lab, 30000, 200)
    {
        QProcessEnvironment environment = privateXdg();
        environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        // The lab's service, reached by the engines' check through the proxy server.
        environment.insert(QStringLiteral("TAVRIXVPN_SERVICE_URL"), ProxyServers::serviceUrl());
        environment.insert(QStringLiteral("TAVRIXVPN_SERVICE_CA"), ProxyServers::serviceCa(lab));
        launch({program.isEmpty() ? programPath() : program}, environment, user);
    }

    static QString programPath() { return buildBinDir() + QStringLiteral("/tavrix-proxy-client"); }

    void select(int type, const QString &ip, const QString &config)
    {
        send(QStringLiteral("select %1 %2 %3").arg(type).arg(ip, QString::fromLatin1(config.toUtf8().toBase64())));
    }

    // Process ids of the running engines started from the client's engine file.
    QString engines()
    {
        send(QStringLiteral("engine"));
        return waitFor(QStringLiteral("ENGINE")).mid(7);
    }

    // The system proxy record: "ProxyEnable=1\n..." while on.
    QByteArray proxyRecord() const
    {
        QFile file(home() + QStringLiteral("/xdg_data_home/TavrixVPN/system-proxy"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool proxyOn() const { return proxyRecord().contains("ProxyEnable=1"); }
    // The engine configuration the client wrote.
    QString configFile() const { return home() + QStringLiteral("/xdg_data_home/TavrixVPN/config.json"); }
};

} // namespace TavrixTest
