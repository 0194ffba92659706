#pragma once

// A Shadowsocks server for the Outline tests and benchmark, on top of a NetnsLab:
//
//   server namespace: ss-server on 10.231.0.1:8388 (TCP and UDP), an HTTP server on :8080 of
//                     every address (the veth one and the inside 198.18.100.1), a UDP echo on
//                     198.18.100.1:7007, and a small DNS
//                     server on 1.1.1.1:53 (the tunnel's first DNS server) that knows only
//                     "inside.lab.test"; direct connections from the client to the inside
//                     address are refused, so only the Shadowsocks server reaches it
//   client namespace: a default route via the server, resolv.conf naming 10.231.53.53 (an
//                     address of the server namespace where no DNS server listens: names
//                     resolve only through the tunnel)
//
// The client runs as its own program (tavrix-outline-driver) from a private copy of the
// program folder with the engine stand-ins, so that a test can leave one out.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include "labdriver.h"

namespace TavrixTest {

class OutlineLab
{
public:
    static constexpr int ssPort = ShadowsocksServer::port;
    static constexpr int httpPort = 8080;
    static constexpr int udpEchoPort = 7007;
    // Quotes, a backslash and spaces: it must reach the server intact through every file.
    static constexpr const char *password = "outline lab \"Secret\" \\42";
    static constexpr const char *method = ShadowsocksServer::method;
    static constexpr const char *insideName = NetnsLab::insideName;
    static constexpr const char *dnsAddress = "1.1.1.1";
    static constexpr const char *deadResolver = "10.231.53.53";

    explicit OutlineLab(NetnsLab &lab)
        : m_lab(lab)
    {
    }

    // Unique text served at http://<any server address>:8080/marker.txt.
    QByteArray marker() const { return "tavrix-outline-marker-" + QByteArray::number(qint64(getpid())) + "\n"; }

    bool up(QString *error)
    {
        if (!m_lab.up(error))
            return false;
        const QString dir = m_lab.dir();
        QDir().mkpath(dir + QStringLiteral("/www"));
        writeFile(dir + QStringLiteral("/www/marker.txt"), marker());
        writeFile(dir + QStringLiteral("/dns.py"), dnsServer());
        writeFile(dir + QStringLiteral("/udp.py"), udpScript());
        writeFile(QStringLiteral("/etc/netns/%1/resolv.conf").arg(m_lab.clientNs()),
                  QByteArray("nameserver ") + deadResolver + "\n");
        const QString server = m_lab.serverNs();
        const QString client = m_lab.clientNs();
        if (!step(error, {"ip", "-n", server, "addr", "add", QStringLiteral("%1/32").arg(dnsAddress), "dev", "lo"}) ||
            !step(error, {"ip", "-n", server, "addr", "add", QStringLiteral("%1/32").arg(deadResolver), "dev", "lo"}) ||
            !step(error, {"ip", "-n", client, "route", "add", "default", "via", NetnsLab::serverAddress}))
            return false;
        QByteArray output;
        const QByteArray block = QStringLiteral("table inet tavrix_lab_block {\n chain input {\n"
                                                "  type filter hook input priority 0;\n"
                                                "  ip saddr %1 ip daddr %2 reject\n }\n}\n")
                                     .arg(NetnsLab::clientAddress, NetnsLab::insideAddress)
                                     .toLatin1();
        if (m_lab.exec(server, {"nft", "-f", "-"}, &output, 10000, block) != 0)
            return fail(error, QStringLiteral("nft in the server namespace: ") + QString::fromLocal8Bit(output));

        if (!ShadowsocksServer::start(m_lab, dir, QString::fromLatin1(password)) ||
            !m_lab.start(server,
                         {systemPython(), "-m", "http.server", "--bind", "0.0.0.0", "--directory",
                          dir + QStringLiteral("/www"), QString::number(httpPort)},
                         dir + QStringLiteral("/http.log")) ||
            !m_lab.start(
                server,
                {systemPython(), dir + QStringLiteral("/dns.py"), dnsAddress, insideName, NetnsLab::insideAddress},
                dir + QStringLiteral("/dns.log")) ||
            !m_lab.start(server,
                         {systemPython(), dir + QStringLiteral("/udp.py"), "serve", NetnsLab::insideAddress,
                          QString::number(udpEchoPort)},
                         dir + QStringLiteral("/udp.log")))
            return fail(error, QStringLiteral("a server did not start"));
        if (!m_lab.waitForListener(server, ssPort) || !m_lab.waitForListener(server, httpPort))
            return fail(error, QStringLiteral("ss-server or the HTTP server is not listening, see ") + dir);
        return makeBinDir(error);
    }

    // A text as the inside of a JSON string.
    static QString jsonText(const QString &text)
    {
        QString escaped = text;
        return escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
            .replace(QLatin1Char('"'), QStringLiteral("\\\""));
    }

    // A private program folder: the driver and the stand-ins, tun2socks only when asked.
    QString binDir() const { return m_binDir; }

    bool setTunnelProgramPresent(bool present)
    {
        const QString target = m_binDir + QStringLiteral("/tun2socks");
        QFile::remove(target);
        return !present || QFile::copy(buildBinDir() + QStringLiteral("/tun2socks"), target);
    }

    // A plain curl inside the client namespace: its exit code; the body goes to *body.
    int curl(const QString &url, QByteArray *body = nullptr, int seconds = 3)
    {
        QByteArray output;
        const int code = m_lab.exec(m_lab.clientNs(), {"curl", "-sS", "-m", QString::number(seconds), url}, &output,
                                    (seconds + 5) * 1000);
        if (body)
            *body = output;
        return code;
    }

    // One datagram to the inside UDP echo from the client namespace; true when it came back.
    bool udpRoundTrip()
    {
        return m_lab.exec(m_lab.clientNs(),
                          {systemPython(), m_lab.dir() + QStringLiteral("/udp.py"), "ask", NetnsLab::insideAddress,
                           QString::number(udpEchoPort)},
                          nullptr, 10000) == 0;
    }

    QString insideUrl() const
    {
        return QStringLiteral("http://%1:%2/marker.txt").arg(NetnsLab::insideAddress).arg(httpPort);
    }
    QString insideNameUrl() const { return QStringLiteral("http://%1:%2/marker.txt").arg(insideName).arg(httpPort); }
    QString directUrl() const
    {
        return QStringLiteral("http://%1:%2/marker.txt").arg(NetnsLab::serverAddress).arg(httpPort);
    }

    // What the tunnel leaves in the client namespace, one word each; empty when nothing.
    QStringList leftovers()
    {
        QStringList found;
        QByteArray output;
        m_lab.exec(m_lab.clientNs(), {"nft", "list", "tables"}, &output, 5000);
        if (output.contains("tavrixvpn_outline"))
            found << QStringLiteral("table");
        if (m_lab.clientIp({"-o", "link", "show"}).contains(QLatin1String("TavrixVPN")))
            found << QStringLiteral("interface");
        // (A table that does not exist is reported on the merged error stream.)
        if (m_lab.clientIp({"route", "show", "proto", "85"}).contains(QLatin1String(" dev ")) ||
            m_lab.clientIp({"route", "show", "table", "85"}).contains(QLatin1String(" dev ")))
            found << QStringLiteral("routes");
        if (m_lab.clientIp({"rule", "show"}).contains(QLatin1String("lookup 85")))
            found << QStringLiteral("rule");
        if (!processesOfOurs().isEmpty())
            found << QStringLiteral("processes");
        return found;
    }

    // Command lines of running processes started from our tun2socks copy (ss-redir and
    // ss-tunnel carry its path too).
    QStringList processesOfOurs() const
    {
        QStringList found;
        const QString path = m_binDir + QStringLiteral("/tun2socks");
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile file(QStringLiteral("/proc/%1/cmdline").arg(entry));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = file.readAll().replace('\0', ' ');
            if (line.contains(path.toLocal8Bit()))
                found << QString::fromLocal8Bit(line);
        }
        return found;
    }

    bool waitForNoLeftovers(int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!leftovers().isEmpty()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(100);
        }
        return true;
    }

    // Every process command line in the client namespace that contains text.
    QStringList commandLinesContaining(const QByteArray &text) const
    {
        QStringList found;
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile file(QStringLiteral("/proc/%1/cmdline").arg(entry));
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text))
                found << entry;
        }
        return found;
    }

private:
    bool makeBinDir(QString *error)
    {
        m_binDir = m_lab.dir() + QStringLiteral("/bin");
        QDir().mkpath(m_binDir);
        for (const char *name : {"tavrix-outline-driver", "route-config.sh", "disconnect.sh", "tun2socks"}) {
            const QString source = buildBinDir() + QLatin1Char('/') + QLatin1String(name);
            const QString target = m_binDir + QLatin1Char('/') + QLatin1String(name);
            QFile::remove(target);
            if (!QFile::copy(source, target))
                return fail(error, QStringLiteral("cannot copy ") + source);
        }
        return true;
    }

    bool step(QString *error, const QStringList &command)
    {
        QByteArray output;
        if (runProgram(command.first(), command.mid(1), &output) == 0)
            return true;
        return fail(error, command.join(QLatin1Char(' ')) + QStringLiteral(": ") + QString::fromLocal8Bit(output));
    }

    // "serve ADDR PORT" echoes datagrams; "ask ADDR PORT" sends one and exits 0 on its echo.
    static QByteArray udpScript()
    {
        return "import socket, sys\n"
               "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
               "address = (sys.argv[2], int(sys.argv[3]))\n"
               "if sys.argv[1] == 'serve':\n"
               "    s.bind(address)\n"
               "    while True:\n"
               "        data, peer = s.recvfrom(2048)\n"
               "        s.sendto(data, peer)\n"
               "s.settimeout(2)\n"
               "payload = b'tavrix-udp-probe'\n"
               "try:\n"
               "    s.sendto(payload, address)\n"
               "    sys.exit(0 if s.recvfrom(2048)[0] == payload else 1)\n"
               "except OSError:\n"
               "    sys.exit(1)\n";
    }

    // Answers A questions for one name; every other name does not exist.
    static QByteArray dnsServer()
    {
        return "import socket, struct, sys\n"
               "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
               "s.bind((sys.argv[1], 53))\n"
               "while True:\n"
               "    q, peer = s.recvfrom(512)\n"
               "    i, labels = 12, []\n"
               "    while q[i]:\n"
               "        labels.append(q[i + 1:i + 1 + q[i]].decode())\n"
               "        i += 1 + q[i]\n"
               "    name = '.'.join(labels).lower()\n"
               "    qtype = struct.unpack('>H', q[i + 1:i + 3])[0]\n"
               "    known = name == sys.argv[2]\n"
               "    hit = known and qtype == 1\n"
               "    r = q[:2] + struct.pack('>HHHHH', 0x8180 if known else 0x8183, 1, 1 if hit else 0, 0, 0)\n"
               "    r += q[12:i + 5]\n"
               "    if hit:\n"
               "        r += b'\\xc0\\x0c' + struct.pack('>HHIH', 1, 1, 60, 4) + socket.inet_aton(sys.argv[3])\n"
               "    s.sendto(r, peer)\n";
    }

    NetnsLab &m_lab;
    QString m_binDir;
};

// The client program inside the client namespace, with XDG folders of its own.
class OutlineDriver : public LabDriver
{
public:
    OutlineDriver(NetnsLab &lab, const OutlineLab &outline, const QString &password)
        : LabDriver(lab, 20000, 100)
    {
        QProcessEnvironment environment = privateXdg();
        environment.insert(QStringLiteral("TMPDIR"), tmpDir());
        QDir().mkpath(tmpDir());
        if (launch({outline.binDir() + QStringLiteral("/tavrix-outline-driver")}, environment)) {
            send(QStringLiteral("address %1:%2").arg(NetnsLab::serverAddress).arg(OutlineLab::ssPort));
            send(QStringLiteral("config {\"method\":\"%1\",\"password\":\"%2\"}")
                     .arg(OutlineLab::method, OutlineLab::jsonText(password)));
        }
    }

    QString tmpDir() const { return home() + QStringLiteral("/tmp"); }
    QString engineFolder() const { return home() + QStringLiteral("/xdg_data_home/TavrixVPN"); }
};

} // namespace TavrixTest
