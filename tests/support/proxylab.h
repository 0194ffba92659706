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

#include "netns.h"

namespace TavrixTest {

class ProxyServers
{
public:
    static constexpr int shadowsocksPort = 8388;
    static constexpr int vmessPort = 10086;
    static constexpr int webPort = 80;
    static constexpr const char *method = "chacha20-ietf-poly1305";
    static constexpr const char *password = "sspass-lab-Xq7";
    static constexpr const char *vmessId = "a6a2e66d-2203-ecd5-419a-0e5e85bb5b10";
    static constexpr const char *insideName = "inside.lab.test";
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

    bool start(QString *error)
    {
        stop();
        QDir().mkpath(webRoot());
        write(webRoot() + QStringLiteral("/inside.txt"), insideText);
        // Read by every program "ip netns exec" starts in the server namespace from now on.
        write(QStringLiteral("/etc/netns/%1/hosts").arg(m_lab.serverNs()),
              QStringLiteral("127.0.0.1 localhost\n%1 %2 %3\n")
                  .arg(QLatin1String(NetnsLab::insideAddress), QLatin1String(insideName), QLatin1String(serviceName))
                  .toLatin1());
        const QJsonObject ss{{"server", NetnsLab::serverAddress},
                             {"server_port", shadowsocksPort},
                             {"password", password},
                             {"method", method},
                             {"mode", "tcp_and_udp"},
                             {"timeout", 60}};
        write(path("ss-server.json"), QJsonDocument(ss).toJson());
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
        write(path("v2ray-server.json"), QJsonDocument(vmess).toJson());

        m_web = m_lab.start(m_lab.serverNs(),
                            {"python3", "-m", "http.server", QString::number(webPort), "--bind",
                             NetnsLab::insideAddress, "--directory", webRoot()},
                            path("web.log"));
        m_ss = m_lab.start(m_lab.serverNs(), {"ss-server", "-c", path("ss-server.json")}, path("ss-server.log"));
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

    static void write(const QString &file, const QByteArray &content)
    {
        QFile out(file);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(content);
    }

    NetnsLab &m_lab;
    QString m_dir;
    QProcess *m_web = nullptr;
    QProcess *m_ss = nullptr;
    QProcess *m_vmess = nullptr;
    QProcess *m_service = nullptr;
};

// The controller program inside the client namespace, with XDG folders of its own.
class ProxyClient
{
public:
    static constexpr int defaultTimeoutMs = 30000;

    // `program` defaults to the one beside the client (and its engine stand-in).
    explicit ProxyClient(NetnsLab &lab, const QString &program = QString())
        : m_lab(lab)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            const QString sub = m_home.path() + QLatin1Char('/') + QString::fromLatin1(name).toLower();
            QDir().mkpath(sub);
            environment.insert(QString::fromLatin1(name), sub);
        }
        environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        // The lab's service, reached by the engines' check through the proxy server.
        environment.insert(QStringLiteral("TAVRIXVPN_SERVICE_URL"), ProxyServers::serviceUrl());
        environment.insert(QStringLiteral("TAVRIXVPN_SERVICE_CA"), ProxyServers::serviceCa(lab));
        m_process = lab.start(lab.clientNs(), {program.isEmpty() ? programPath() : program}, QString(), environment);
        if (m_process)
            waitFor(QStringLiteral("READY"));
    }

    ~ProxyClient()
    {
        if (m_process) {
            send(QStringLiteral("quit"));
            m_process->waitForFinished(10000);
            m_lab.stop(m_process);
        }
    }

    static QString programPath()
    {
        const QString dir = qEnvironmentVariableIsSet("TAVRIX_BIN_DIR") ? qEnvironmentVariable("TAVRIX_BIN_DIR")
                                                                        : QCoreApplication::applicationDirPath();
        return dir + QStringLiteral("/tavrix-proxy-client");
    }

    bool isRunning() const { return m_process && m_process->state() == QProcess::Running; }

    void send(const QString &command)
    {
        m_process->write(command.toUtf8() + '\n');
        m_process->waitForBytesWritten(2000);
    }

    void select(int type, const QString &ip, const QString &config)
    {
        send(QStringLiteral("select %1 %2 %3").arg(type).arg(ip, QString::fromLatin1(config.toUtf8().toBase64())));
    }

    // Sends "connect": the statuses up to CONNECTED or IDLE, and when the last came (ms).
    QList<int> connectVpn(qint64 *ms = nullptr)
    {
        send(QStringLiteral("connect"));
        return statusesUntil({0, 2}, defaultTimeoutMs, ms);
    }

    QList<int> disconnectVpn()
    {
        send(QStringLiteral("disconnect"));
        return statusesUntil({0});
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
        QFile file(m_home.path() + QStringLiteral("/xdg_data_home/TavrixVPN/system-proxy"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool proxyOn() const { return proxyRecord().contains("ProxyEnable=1"); }
    // The engine configuration the client wrote.
    QString configFile() const { return m_home.path() + QStringLiteral("/xdg_data_home/TavrixVPN/config.json"); }

    QString waitFor(const QString &prefix, int timeoutMs = defaultTimeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            while (m_next < m_lines.size()) {
                const QString line = m_lines.at(m_next++);
                if (line.startsWith(prefix))
                    return line;
            }
            if (deadline.hasExpired() || !readMore(deadline))
                return QString();
        }
    }

    // Lines read so far; with lineSince, a line that may come before or after others.
    int mark() const { return m_lines.size(); }
    QString lineSince(int mark, const QString &prefix, int timeoutMs = defaultTimeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (int i = mark;; ++i) {
            while (i >= m_lines.size()) {
                if (deadline.hasExpired() || !readMore(deadline))
                    return QString();
            }
            if (m_lines.at(i).startsWith(prefix))
                return m_lines.at(i);
        }
    }

    QList<int> statusesUntil(const QList<int> &final, int timeoutMs = defaultTimeoutMs, qint64 *ms = nullptr)
    {
        QList<int> seen;
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const QString line = waitFor(QStringLiteral("STATUS "), int(deadline.remainingTime()));
            if (line.isEmpty())
                return seen;
            seen.append(line.section(QLatin1Char(' '), 1, 1).toInt());
            if (ms)
                *ms = line.section(QLatin1Char(' '), 2, 2).toLongLong();
            if (final.contains(seen.last()))
                return seen;
        }
    }

    QString logDump()
    {
        QDeadlineTimer deadline(200);
        readMore(deadline);
        QStringList result;
        for (const QString &line : m_lines) {
            if (line.startsWith(QLatin1String("LOG ")))
                result.append(line.mid(4));
        }
        return result.join(QLatin1Char('\n'));
    }

private:
    bool readMore(const QDeadlineTimer &deadline)
    {
        if (!m_process->canReadLine() && !m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return m_process->canReadLine();
        while (m_process->canReadLine())
            m_lines.append(QString::fromUtf8(m_process->readLine()).trimmed());
        return true;
    }

    NetnsLab &m_lab;
    QTemporaryDir m_home;
    QProcess *m_process = nullptr;
    QStringList m_lines;
    int m_next = 0;
};

} // namespace TavrixTest
