#pragma once

// Real networks for engine tests. Two network namespaces made for this test run, joined by
// a veth pair:
//
//   server namespace: veth 10.231.0.1/24, and 198.18.100.1/32 on its loopback (the "inside"
//                     address, reachable from the client only through a tunnel)
//   client namespace: veth 10.231.0.2/24, no default route
//
// Nothing is configured in the host's namespace. Names carry the process id, so runs in
// parallel never meet. Every process is started inside a namespace through "ip netns exec"
// (which execs, so the process id is the program's own) and stopped by that id; whatever is
// left in the namespaces at the end is stopped too (only this run's programs live there).
// The class also starts an AnyConnect server (ocserv) with its own certificates and users.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/types.h>
#include <unistd.h>

namespace TavrixTest {

// Runs a program to its end (bounded). Returns its exit code, -1 when it did not run or
// did not end in time; standard output and error go to *output.
inline int runProgram(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
                      int timeoutMs = 20000, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs))
        return -1;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return -1;
    }
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Writes a whole file (configuration, script, page); a failure shows in what reads it.
inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

// Sets *error (when asked for) and returns false, for set-up steps.
inline bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Folder of the built programs and stand-ins (build/bin).
inline QString buildBinDir()
{
    return qEnvironmentVariableIsSet("TAVRIX_BIN_DIR") ? qEnvironmentVariable("TAVRIX_BIN_DIR")
                                                       : QCoreApplication::applicationDirPath();
}

// Debian's own python3, which execs in place: the lab stops programs by the process id it started.
inline QString systemPython()
{
    const QString system = QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    return system.isEmpty() ? QStringLiteral("python3") : system;
}

// Keys and certificates of the lab's servers.
inline bool certtool(const QStringList &arguments, QString *error)
{
    QByteArray output;
    if (runProgram(QStringLiteral("certtool"), arguments, &output) == 0)
        return true;
    return fail(error, QStringLiteral("certtool %1: %2").arg(arguments.join(' '), QString::fromLocal8Bit(output)));
}

// Empty when this machine can run real tunnels; otherwise why not.
inline QString tunnelSkipReason(const QStringList &programs = {})
{
    if (geteuid() != 0)
        return QStringLiteral("needs root (network namespaces, tunnel devices)");
    if (!QFileInfo::exists(QStringLiteral("/dev/net/tun")))
        return QStringLiteral("needs /dev/net/tun");
    for (const QString &program : QStringList{QStringLiteral("ip")} + programs) {
        if (QStandardPaths::findExecutable(program).isEmpty() &&
            QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}).isEmpty())
            return QStringLiteral("needs the program %1").arg(program);
    }
    // Root in a container may still be refused namespaces.
    const QString probe = QStringLiteral("tvx-%1-probe").arg(getpid());
    QByteArray output;
    if (runProgram(QStringLiteral("ip"), {"netns", "add", probe}, &output) != 0)
        return QStringLiteral("cannot create network namespaces: ") + QString::fromLocal8Bit(output).trimmed();
    runProgram(QStringLiteral("ip"), {"netns", "del", probe});
    return QString();
}

class NetnsLab
{
public:
    static constexpr const char *serverAddress = "10.231.0.1";
    static constexpr const char *clientAddress = "10.231.0.2";
    static constexpr const char *insideAddress = "198.18.100.1";
    static constexpr const char *insideNetwork = "198.18.100.0/24";
    // The name the labs' servers resolve to the inside address (the client alone cannot).
    static constexpr const char *insideName = "inside.lab.test";

    NetnsLab()
        : NetnsLab(QString::number(getpid()))
    {
    }

    // The lab of another process with this id (a copy of a test run inside the client
    // namespace): it uses that lab's namespaces and never sets them up or removes them.
    explicit NetnsLab(const QString &id)
    {
        m_serverNs = QStringLiteral("tvx-%1-srv").arg(id);
        m_clientNs = QStringLiteral("tvx-%1-cli").arg(id);
        m_serverLink = QStringLiteral("tvx%1s").arg(id);
        m_clientLink = QStringLiteral("tvx%1c").arg(id);
        m_dir.setAutoRemove(true);
        // Servers drop privileges; they must still reach their files here.
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                                QFileDevice::ReadOther | QFileDevice::ExeOther);
    }

    ~NetnsLab() { down(); }

    NetnsLab(const NetnsLab &) = delete;
    NetnsLab &operator=(const NetnsLab &) = delete;

    QString serverNs() const { return m_serverNs; }
    QString clientNs() const { return m_clientNs; }
    // The veth ends in the server and the client namespace.
    QString serverLink() const { return m_serverLink; }
    QString clientLink() const { return m_clientLink; }
    // A folder private to this run, for configuration files and logs.
    QString dir() const { return m_dir.path(); }
    // Keeps that folder after the run, for a look at the logs after a failure.
    void keepFiles() { m_dir.setAutoRemove(false); }

    bool up(QString *error)
    {
        down();
        m_up = true;
        m_createdNetnsDir = !QFileInfo::exists(QStringLiteral("/etc/netns"));
        // resolv.conf first: a tunnel script rewrites the bind-mounted copy, never the host's.
        for (const QString &ns : {m_serverNs, m_clientNs}) {
            QDir().mkpath(QStringLiteral("/etc/netns/") + ns);
            QFile resolv(QStringLiteral("/etc/netns/%1/resolv.conf").arg(ns));
            if (!resolv.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return fail(error, QStringLiteral("cannot write ") + resolv.fileName());
            resolv.write("nameserver 127.0.0.53\n");
        }
        const QList<QStringList> steps = {
            {"netns", "add", m_serverNs},
            {"netns", "add", m_clientNs},
            {"link", "add", m_serverLink, "netns", m_serverNs, "type", "veth", "peer", "name", m_clientLink, "netns",
             m_clientNs},
            {"-n", m_serverNs, "addr", "add", QStringLiteral("%1/24").arg(serverAddress), "dev", m_serverLink},
            {"-n", m_clientNs, "addr", "add", QStringLiteral("%1/24").arg(clientAddress), "dev", m_clientLink},
            {"-n", m_serverNs, "link", "set", "lo", "up"},
            {"-n", m_serverNs, "link", "set", m_serverLink, "up"},
            {"-n", m_clientNs, "link", "set", "lo", "up"},
            {"-n", m_clientNs, "link", "set", m_clientLink, "up"},
            {"-n", m_serverNs, "addr", "add", QStringLiteral("%1/32").arg(insideAddress), "dev", "lo"},
        };
        for (const QStringList &step : steps) {
            QByteArray output;
            if (runProgram(QStringLiteral("ip"), step, &output) != 0)
                return fail(error, QStringLiteral("ip %1: %2").arg(step.join(' '), QString::fromLocal8Bit(output)));
        }
        return true;
    }

    void down()
    {
        // stop() takes each out of the list: walk a copy.
        const QList<QProcess *> processes = m_processes;
        for (QProcess *process : processes)
            stop(process);
        if (!m_up)
            return;
        // Anything still inside was started by this run.
        for (const QString &ns : {m_clientNs, m_serverNs})
            signalAll(ns, SIGTERM);
        QDeadlineTimer deadline(3000);
        while (!deadline.hasExpired() && (!pids(m_clientNs).isEmpty() || !pids(m_serverNs).isEmpty()))
            QThread::msleep(50);
        for (const QString &ns : {m_clientNs, m_serverNs})
            signalAll(ns, SIGKILL);
        for (const QString &ns : {m_clientNs, m_serverNs}) {
            runProgram(QStringLiteral("ip"), {"netns", "del", ns});
            QDir(QStringLiteral("/etc/netns/") + ns).removeRecursively();
        }
        // Only a folder this run made, and only when no other run uses it.
        if (m_createdNetnsDir)
            QDir().rmdir(QStringLiteral("/etc/netns"));
        m_up = false;
    }

    // Lets the server namespace route between its interfaces (not needed for traffic that
    // ends at the inside address).
    bool enableServerForwarding()
    {
        return exec(m_serverNs, {"sh", "-c", "echo 1 > /proc/sys/net/ipv4/ip_forward"}) == 0;
    }

    // Runs a program inside a namespace to its end; its exit code, -1 on time-out.
    int exec(const QString &ns, const QStringList &command, QByteArray *output = nullptr, int timeoutMs = 20000,
             const QByteArray &input = QByteArray())
    {
        return runProgram(QStringLiteral("ip"), QStringList{"netns", "exec", ns} + command, output, timeoutMs, input);
    }

    // Starts a long-running program inside a namespace, its output going to logFile. The lab
    // stops it at the end unless the caller does so first with stop().
    QProcess *start(const QString &ns, const QStringList &command, const QString &logFile = QString(),
                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        auto *process = new QProcess;
        process->setProcessEnvironment(environment);
        if (logFile.isEmpty()) {
            process->setProcessChannelMode(QProcess::SeparateChannels);
        } else {
            process->setProcessChannelMode(QProcess::MergedChannels);
            process->setStandardOutputFile(logFile, QIODevice::Append);
        }
        process->start(QStringLiteral("ip"), QStringList{"netns", "exec", ns} + command);
        if (!process->waitForStarted(10000)) {
            delete process;
            return nullptr;
        }
        m_processes.append(process);
        return process;
    }

    // Stops a program started by start(): SIGTERM, SIGKILL after 5 s.
    void stop(QProcess *process)
    {
        if (!process)
            return;
        m_processes.removeAll(process);
        if (process->state() != QProcess::NotRunning) {
            ::kill(pid_t(process->processId()), SIGTERM);
            if (!process->waitForFinished(5000)) {
                ::kill(pid_t(process->processId()), SIGKILL);
                process->waitForFinished(2000);
            }
        }
        delete process;
    }

    // "ip" output inside the client namespace, for checks of devices and routes.
    QString clientIp(const QStringList &arguments)
    {
        QByteArray output;
        runProgram(QStringLiteral("ip"), QStringList{"-n", m_clientNs} + arguments, &output);
        return QString::fromLocal8Bit(output);
    }

    // Waits until a TCP port listens in a namespace.
    bool waitForListener(const QString &ns, int port, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            QByteArray output;
            exec(ns, {"ss", "-Hltn", QStringLiteral("sport = :%1").arg(port)}, &output, 5000);
            if (output.contains(QByteArray(":") + QByteArray::number(port)))
                return true;
            QThread::msleep(50);
        }
        return false;
    }

private:
    static QList<pid_t> pids(const QString &ns)
    {
        QByteArray output;
        runProgram(QStringLiteral("ip"), {"netns", "pids", ns}, &output, 5000);
        QList<pid_t> result;
        for (const QByteArray &line : output.split('\n')) {
            bool ok = false;
            const int pid = line.trimmed().toInt(&ok);
            if (ok && pid > 1 && pid != getpid())
                result.append(pid_t(pid));
        }
        return result;
    }

    static void signalAll(const QString &ns, int signal)
    {
        for (pid_t pid : pids(ns))
            ::kill(pid, signal);
    }

    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/tavrix-netns-XXXXXX")};
    QString m_serverNs;
    QString m_clientNs;
    QString m_serverLink;
    QString m_clientLink;
    QList<QProcess *> m_processes;
    bool m_up = false;
    bool m_createdNetnsDir = false;
};

// iperf3 through a tunnel of the lab: the server on the inside address of the server
// namespace, the client runs from the client namespace.
struct Iperf
{
    static constexpr int port = 5201;

    // A server for the whole run (oneOff: for one test only, as a server left with a broken
    // test answers "busy" to every later one); null when it does not listen.
    static QProcess *startServer(NetnsLab &lab, bool oneOff = false)
    {
        QStringList command{"iperf3", "-s", "-B", NetnsLab::insideAddress, "-p", QString::number(port)};
        if (oneOff)
            command.insert(2, QStringLiteral("-1"));
        QProcess *server = lab.start(lab.serverNs(), command, oneOff ? QString() : lab.dir() + "/iperf3.log");
        if (server && lab.waitForListener(lab.serverNs(), port))
            return server;
        lab.stop(server);
        return nullptr;
    }

    // The arguments of one run of `seconds` to the server, with a JSON report; download
    // reverses it.
    static QStringList clientArguments(bool download, int seconds)
    {
        QStringList arguments{"-c", NetnsLab::insideAddress,  "-p", QString::number(port),
                              "-t", QString::number(seconds), "-J"};
        if (download)
            arguments << "-R";
        return arguments;
    }

    // Mbit/s the receiving end counted, from a run's JSON report; 0 (and why on stderr) when
    // the run failed.
    static double mbits(const QByteArray &report)
    {
        const QJsonObject result = QJsonDocument::fromJson(report).object();
        const double bits = result.value(QStringLiteral("end"))
                                .toObject()
                                .value(QStringLiteral("sum_received"))
                                .toObject()
                                .value(QStringLiteral("bits_per_second"))
                                .toDouble();
        if (bits <= 0)
            fprintf(stderr, "iperf3: %s\n",
                    qPrintable(result.contains(QStringLiteral("error"))
                                   ? result.value(QStringLiteral("error")).toString()
                                   : QString::fromLocal8Bit(report.right(600))));
        return bits / 1e6;
    }

    // One run from the client namespace: Mbit/s, 0 on failure.
    static double run(NetnsLab &lab, bool download, int seconds)
    {
        QByteArray report;
        lab.exec(lab.clientNs(), QStringList{"iperf3"} + clientArguments(download, seconds), &report,
                 (seconds + 20) * 1000);
        return mbits(report);
    }
};

// A Shadowsocks server (shadowsocks-libev) in the lab's server namespace, on the server
// address, TCP and UDP.
struct ShadowsocksServer
{
    static constexpr int port = 8388;
    static constexpr const char *method = "chacha20-ietf-poly1305";

    // Its configuration and log go to dir; null when it did not start.
    static QProcess *start(NetnsLab &lab, const QString &dir, const QString &password)
    {
        const QJsonObject config{{"server", NetnsLab::serverAddress},
                                 {"server_port", port},
                                 {"password", password},
                                 {"method", method},
                                 {"mode", "tcp_and_udp"},
                                 {"timeout", 60}};
        writeFile(dir + QStringLiteral("/ss-server.json"), QJsonDocument(config).toJson());
        return lab.start(lab.serverNs(), {"ss-server", "-c", dir + QStringLiteral("/ss-server.json")},
                         dir + QStringLiteral("/ss-server.log"));
    }
};

// An AnyConnect server in the lab's server namespace, on 10.231.0.1:4443 (TCP and UDP),
// handing out 10.231.10.0/24 and a route to the inside network. Users: "testuser" with
// "testpass", "guser" with "testpass2" in the groups "group1" and "group2", and demoUser
// with "testpass" (an e-mail address, as a login link needs one).
class OcservServer
{
public:
    enum Groups { NoGroups, OneGroup, TwoGroups };
    static constexpr int port = 4443;
    static constexpr const char *demoUser = "anyconnect@tavrixvpn.test";

    explicit OcservServer(NetnsLab &lab)
        : m_lab(lab)
        , m_dir(lab.dir() + QStringLiteral("/ocserv"))
    {
    }

    ~OcservServer() { stop(); }

    QString url() const { return QStringLiteral("https://%1:%2/").arg(NetnsLab::serverAddress).arg(port); }
    QString logFile() const { return m_dir + QStringLiteral("/ocserv.log"); }
    QString certificateFile() const { return m_dir + QStringLiteral("/server-cert.pem"); }
    // The CA that signs the server's certificates.
    QString caFile() const { return m_dir + QStringLiteral("/ca-cert.pem"); }

    // CA, server key and certificate, password file.
    bool makeCredentials(QString *error)
    {
        QDir().mkpath(m_dir);
        writeFile(path("ca.tmpl"), "cn = \"Tavrix Test CA\"\norganization = \"Tavrix Test\"\nserial = 1\n"
                                   "expiration_days = 30\nca\nsigning_key\ncert_signing_key\n");
        if (!certtool({"--generate-privkey", "--key-type=ecdsa", "--outfile", path("ca-key.pem")}, error) ||
            !certtool({"--generate-self-signed", "--load-privkey", path("ca-key.pem"), "--template", path("ca.tmpl"),
                       "--outfile", path("ca-cert.pem")},
                      error))
            return false;
        if (!renewServerKey(error))
            return false;
        QFile::remove(path("ocpasswd"));
        for (const QStringList &user :
             {QStringList{"testuser", "testpass", ""}, QStringList{"guser", "testpass2", "group1,group2"},
              QStringList{QString::fromLatin1(demoUser), "testpass", ""}}) {
            QStringList arguments{"-c", path("ocpasswd")};
            if (!user[2].isEmpty())
                arguments << "-g" << user[2];
            arguments << user[0];
            QByteArray output;
            const QByteArray input = (user[1] + '\n' + user[1] + '\n').toLatin1();
            if (runProgram(QStringLiteral("ocpasswd"), arguments, &output, 20000, input) != 0) {
                *error = QStringLiteral("ocpasswd: ") + QString::fromLocal8Bit(output);
                return false;
            }
        }
        return true;
    }

    // A new server key and certificate: the server's public key changes.
    bool renewServerKey(QString *error)
    {
        writeFile(path("server.tmpl"),
                  QStringLiteral("cn = \"%1\"\norganization = \"Tavrix Test\"\nserial = %2\nexpiration_days = 30\n"
                                 "ip_address = \"%1\"\nsigning_key\nencryption_key\ntls_www_server\n")
                      .arg(NetnsLab::serverAddress)
                      .arg(++m_serial)
                      .toLatin1());
        return certtool({"--generate-privkey", "--key-type=ecdsa", "--outfile", path("server-key.pem")}, error) &&
               certtool({"--generate-certificate", "--load-privkey", path("server-key.pem"), "--load-ca-certificate",
                         path("ca-cert.pem"), "--load-ca-privkey", path("ca-key.pem"), "--template",
                         path("server.tmpl"), "--outfile", path("server-cert.pem")},
                        error);
    }

    // "pin-sha256:..." of the server certificate, for clients that pin it.
    QString pin() const
    {
        QByteArray output;
        runProgram(QStringLiteral("certtool"), {"-i", "--infile", certificateFile()}, &output);
        const int at = output.indexOf("pin-sha256:");
        if (at < 0)
            return QString();
        int end = at;
        while (end < output.size() && !QByteArray(" \t\r\n").contains(output.at(end)))
            ++end;
        return QString::fromLatin1(output.mid(at, end - at));
    }

    bool start(Groups groups, QString *error, const QString &route = QString::fromLatin1(NetnsLab::insideNetwork))
    {
        stop();
        QByteArray conf;
        conf += "auth = \"plain[passwd=" + path("ocpasswd").toLatin1() + "]\"\n";
        conf += QByteArray("listen-host = ") + NetnsLab::serverAddress + "\n";
        conf += "tcp-port = " + QByteArray::number(port) + "\nudp-port = " + QByteArray::number(port) + "\n";
        conf += "run-as-user = nobody\nrun-as-group = nogroup\n";
        conf += "socket-file = " + path("ocserv.sock").toLatin1() + "\n";
        conf += "occtl-socket-file = " + path("occtl.sock").toLatin1() + "\n";
        conf += "pid-file = " + path("ocserv.pid").toLatin1() + "\n";
        conf += "server-cert = " + path("server-cert.pem").toLatin1() + "\n";
        conf += "server-key = " + path("server-key.pem").toLatin1() + "\n";
        conf += "ca-cert = " + path("ca-cert.pem").toLatin1() + "\n";
        conf += "isolate-workers = true\nmax-clients = 16\nmax-same-clients = 8\n"
                "keepalive = 300\ndpd = 60\nmobile-dpd = 300\nswitch-to-tcp-timeout = 25\n"
                "try-mtu-discovery = false\ntls-priorities = \"NORMAL:%SERVER_PRECEDENCE\"\n"
                "auth-timeout = 240\nmin-reauth-time = 1\nmax-ban-score = 0\ncookie-timeout = 300\n"
                "deny-roaming = false\nrekey-time = 172800\nrekey-method = ssl\nuse-occtl = true\n"
                "device = vpns\npredictable-ips = true\ndefault-domain = lab.test\n"
                "ipv4-network = 10.231.10.0\nipv4-netmask = 255.255.255.0\ndns = 10.231.10.1\n"
                "ping-leases = false\ncisco-client-compat = true\ndtls-legacy = true\n";
        conf += "route = " + route.toLatin1() + "\n";
        conf += m_extraConfig;
        if (groups == OneGroup)
            conf += "select-group = group1[Group One]\n";
        if (groups == TwoGroups)
            conf += "select-group = group1[Group One]\nselect-group = group2[Group Two]\n"
                    "default-select-group = DEFAULT\nauto-select-group = false\n";
        writeFile(path("ocserv.conf"), conf);

        m_process = m_lab.start(m_lab.serverNs(), {"ocserv", "-f", "-d", "1", "-c", path("ocserv.conf")}, logFile());
        if (!m_process || !m_lab.waitForListener(m_lab.serverNs(), port)) {
            *error = QStringLiteral("ocserv did not start, see ") + logFile();
            return false;
        }
        return true;
    }

    // Lines added to the configuration at the next start (for example IPv6 pools and routes).
    void setExtraConfig(const QByteArray &lines) { m_extraConfig = lines; }

    void stop()
    {
        if (m_process)
            m_lab.stop(m_process);
        m_process = nullptr;
    }

private:
    QString path(const char *name) const { return m_dir + QLatin1Char('/') + QLatin1String(name); }

    NetnsLab &m_lab;
    QString m_dir;
    QProcess *m_process = nullptr;
    int m_serial = 1;
    QByteArray m_extraConfig;
};

} // namespace TavrixTest
