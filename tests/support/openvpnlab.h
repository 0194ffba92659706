#pragma once

// An OpenVPN server in the lab's server namespace (see netns.h), on 10.231.0.1:1194 UDP,
// handing out 10.231.20.0/24 and a route to the inside network. Clients authenticate with a
// user name and password only (checked by a script against a users file); the server has its
// own CA and certificate made with certtool. Keep-alive is short (1 s ping, 4 s restart), so a
// client notices a dead server within seconds.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "netns.h"

namespace TavrixTest {

class OpenVpnServer
{
public:
    static constexpr int port = 1194;

    explicit OpenVpnServer(NetnsLab &lab)
        : m_lab(lab)
        , m_dir(lab.dir() + QStringLiteral("/openvpn"))
    {
    }

    ~OpenVpnServer() { stop(); }

    QString address() const { return QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(port); }
    QString logFile() const { return path("server.log"); }
    QString caFile() const { return path("ca-cert.pem"); }

    // CA, server key and certificate, the users file and the script that checks it.
    bool makeCredentials(const QList<QPair<QString, QString>> &users, QString *error)
    {
        QDir().mkpath(m_dir);
        QDir().mkpath(path("tmp"));
        writeFile(path("ca.tmpl"), "cn = \"Tavrix OpenVPN Test CA\"\nserial = 1\nexpiration_days = 30\nca\n"
                                   "signing_key\ncert_signing_key\n");
        writeFile(path("server.tmpl"), "cn = \"server\"\nserial = 2\nexpiration_days = 30\nsigning_key\n"
                                       "encryption_key\ntls_www_server\n");
        if (!certtool({"--generate-privkey", "--key-type=ecdsa", "--outfile", path("ca-key.pem")}, error) ||
            !certtool({"--generate-self-signed", "--load-privkey", path("ca-key.pem"), "--template", path("ca.tmpl"),
                       "--outfile", path("ca-cert.pem")},
                      error) ||
            !certtool({"--generate-privkey", "--key-type=ecdsa", "--outfile", path("server-key.pem")}, error) ||
            !certtool({"--generate-certificate", "--load-privkey", path("server-key.pem"), "--load-ca-certificate",
                       path("ca-cert.pem"), "--load-ca-privkey", path("ca-key.pem"), "--template", path("server.tmpl"),
                       "--outfile", path("server-cert.pem")},
                      error))
            return false;
        QByteArray list;
        for (const auto &user : users)
            list += user.first.toUtf8() + ':' + user.second.toUtf8() + '\n';
        writeFile(path("users.txt"), list);
        // via-file: the file holds the user name and the password on two lines; exit 0 accepts.
        writeFile(path("checkpw.sh"), "#!/bin/sh\nU=$(sed -n 1p \"$1\"); P=$(sed -n 2p \"$1\")\n"
                                      "grep -qxF \"$U:$P\" \"$(dirname \"$0\")/users.txt\"\n");
        QFile::setPermissions(path("checkpw.sh"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return true;
    }

    // A client profile as the service hands it out: "remoteIP" and "remotePort" are filled in
    // by the client from the server entry's address.
    QByteArray clientProfileTemplate() const
    {
        QFile ca(caFile());
        ca.open(QIODevice::ReadOnly);
        return "client\ndev tun\nproto udp\nremote remoteIP remotePort\nnobind\nremote-cert-tls server\n"
               "auth-user-pass\nverb 3\n<ca>\n" +
               ca.readAll() + "</ca>\n";
    }

    // The same profile with the address filled in, for the OpenVPN program started by hand.
    QByteArray clientProfile() const
    {
        QByteArray profile = clientProfileTemplate();
        profile.replace("remoteIP", NetnsLab::serverAddress);
        profile.replace("remotePort", QByteArray::number(port));
        return profile;
    }

    bool start(QString *error)
    {
        stop();
        QFile::remove(logFile());
        QByteArray conf = "dev tun\nproto udp\nport " + QByteArray::number(port) + "\n";
        conf += QByteArray("local ") + NetnsLab::serverAddress + "\n";
        conf += "topology subnet\nserver 10.231.20.0 255.255.255.0\n";
        conf += "push \"route " + QByteArray(NetnsLab::insideNetwork).replace("/24", " 255.255.255.0") + "\"\n";
        conf += "ca " + caFile().toUtf8() + "\ncert " + path("server-cert.pem").toUtf8() + "\nkey " +
                path("server-key.pem").toUtf8() + "\n";
        conf += "dh none\nverify-client-cert none\nusername-as-common-name\nduplicate-cn\n";
        conf += "script-security 2\nauth-user-pass-verify " + path("checkpw.sh").toUtf8() + " via-file\n";
        conf += "tmp-dir " + path("tmp").toUtf8() + "\n";
        conf += "keepalive 1 4\ndata-ciphers AES-256-GCM:CHACHA20-POLY1305\nverb 3\n";
        writeFile(path("server.conf"), conf);
        m_process = m_lab.start(m_lab.serverNs(), {"openvpn", "--config", path("server.conf")}, logFile());
        if (!m_process || !waitForLog("Initialization Sequence Completed", 15000)) {
            QFile log(logFile());
            log.open(QIODevice::ReadOnly);
            *error = QStringLiteral("openvpn server did not start: ") + QString::fromLocal8Bit(log.readAll());
            return false;
        }
        return true;
    }

    // A crash: no goodbye to the clients.
    void kill()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process->processId()), SIGKILL);
            m_process->waitForFinished(5000);
        }
        stop();
    }

    void stop()
    {
        if (m_process)
            m_lab.stop(m_process);
        m_process = nullptr;
    }

    bool waitForLog(const QByteArray &text, int timeoutMs) const
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            QFile log(logFile());
            if (log.open(QIODevice::ReadOnly) && log.readAll().contains(text))
                return true;
            QThread::msleep(50);
        }
        return false;
    }

private:
    QString path(const char *name) const { return m_dir + QLatin1Char('/') + QLatin1String(name); }

    NetnsLab &m_lab;
    QString m_dir;
    QProcess *m_process = nullptr;
};

// Puts the calling thread (and every program it starts from then on) into a network namespace,
// and back when it goes: the test process itself plays the client machine, so the runner's
// management listener on 127.0.0.1 is the one the OpenVPN program it starts can reach.
class NetnsEntry
{
public:
    NetnsEntry() = default;
    ~NetnsEntry() { leave(); }

    bool enter(const QString &ns)
    {
        leave();
        m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target =
            ::open(QStringLiteral("/var/run/netns/%1").arg(ns).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        const bool ok = m_home >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
        if (target >= 0)
            ::close(target);
        return ok;
    }

    void leave()
    {
        if (m_home < 0)
            return;
        ::setns(m_home, CLONE_NEWNET);
        ::close(m_home);
        m_home = -1;
    }

private:
    int m_home = -1;
};

} // namespace TavrixTest
