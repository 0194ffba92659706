// The request library the window program and the privileged helper share: hostile engine
// configurations are refused with a reason the user can read (never a key), and the real ones
// the development service hands out are rebuilt into text the engines accept.
#include <QJsonArray>
#include <QProcess>
#include <QSet>
#include <QtTest>

#include <openconnect.h>
#include <unistd.h>

#include "api/apimanager.h"
#include "api/apirequest.h"
#include "common/config.h"
#include "common/user.h"
#include "devservice.h"
#include "helperproto/killswitchrules.h"
#include "helperproto/limits.h"
#include "helperproto/openvpnprofile.h"
#include "helperproto/tunsettings.h"
#include "helperproto/wireguardconfig.h"
#include "testmain.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnecttun.h"

using namespace Tavrix;
using namespace Tavrix::HelperProto;

class TestHelperProto : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void hostileOpenVpnProfileRefused_data();
    void hostileOpenVpnProfileRefused();
    void realProfilesRebuiltForOpenVpn();
    void hostileWireGuardRefused_data();
    void hostileWireGuardRefused();
    void wireGuardRoundTripsAndFieldsAreRechecked();
    void validators_data();
    void validators();
    void killSwitchRequests_data();
    void killSwitchRequests();
    void libraryIpInfoBecomesCheckedTunSettings_data();
    void libraryIpInfoBecomesCheckedTunSettings();

private:
    // OpenVPN's own parser on a rebuilt profile: empty when it takes it, else its complaint.
    QString openVpnComplaint(const QString &profile);

    TavrixTest::DevService m_service;
    QTemporaryDir m_dir;
    // Profiles as the connect step hands them to the runner (address filled in), one per kind.
    QStringList m_profiles;
    QString m_wireGuard;
};

void TestHelperProto::initTestCase()
{
    QVERIFY(m_service.start());
    m_service.exportEnvironment();
    APIManager manager;
    manager.fetchAllDefaultConfig();
    Config::instance()->setUserName(QStringLiteral("premium@tavrixvpn.test"), true);
    Config::instance()->setPassword(QStringLiteral("premiumpass1"), true);
    QCOMPARE(ApiRequest::instance()->login(QStringLiteral("premium@tavrixvpn.test"), QStringLiteral("premiumpass1")),
             int(ApiRequest::LoginSuccess));
    auto controller = OpenConnectConnection::instance();
    QSet<QString> seen;
    for (const IPBundlePtr &entry : User::instance()->bundles()) {
        if (entry->type() == OpenConnectConnection::OPENVPN) {
            controller->setConfig(entry->config(), entry->ip());
            const QString kind = controller->getConfig().section(QLatin1Char('\n'), 2, 2);
            if (!seen.contains(kind)) {
                seen.insert(kind);
                m_profiles << controller->getConfig();
            }
        } else if (entry->type() == OpenConnectConnection::WIREGUARD && m_wireGuard.isEmpty()) {
            m_wireGuard = ApiRequest::instance()->wireGuardConfig(entry->vpn_server_id(), entry->ip_id(),
                                                                  entry->connection_type());
        }
    }
    QCOMPARE(m_profiles.size(), 2); // UDP and TCP
    QVERIFY(m_wireGuard.contains(QLatin1String("[Peer]")));
}

void TestHelperProto::cleanupTestCase()
{
    m_service.stop();
}

QString TestHelperProto::openVpnComplaint(const QString &profile)
{
    QFile file(m_dir.filePath(QStringLiteral("rebuilt.ovpn")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("cannot write");
    file.write(profile.toUtf8());
    file.close();
    // The shipped engine; "--version" after "--config" exits once the file is parsed, so nothing
    // goes on the network.
    QProcess openvpn;
    openvpn.setProcessChannelMode(QProcess::MergedChannels);
    openvpn.start(qEnvironmentVariable("TAVRIX_BIN_DIR") + QStringLiteral("/openvpn"),
                  {QStringLiteral("--config"), file.fileName(), QStringLiteral("--version")});
    if (!openvpn.waitForFinished(10000))
        return QStringLiteral("did not finish");
    const QString output = QString::fromLocal8Bit(openvpn.readAll());
    return output.startsWith(QLatin1String("OpenVPN ")) ? QString() : output;
}

void TestHelperProto::hostileOpenVpnProfileRefused_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("named");
    const QString base = m_profiles.value(0);
    const QString key = QStringLiteral("MIIEvQIBADANBgkqhkiG9w0BAQEFAASCBKcwggSjAgEAAoIBAQC7");
    auto with = [&base](const QString &line) {
        return QString(base).insert(base.indexOf(QLatin1String("nobind")), line + "\n");
    };

    QTest::newRow("down-root plugin running a shell")
        << with(QStringLiteral("plugin /usr/lib/openvpn/openvpn-plugin-down-root.so \"/bin/sh -c 'id >/tmp/p'\""))
        << "\"plugin\"";
    QTest::newRow("up script") << with("up /tmp/evil.sh") << "\"up\"";
    QTest::newRow("script security raised") << with("script-security 2") << "\"script-security\"";
    QTest::newRow("route-up hook") << with("route-up \"/bin/sh -c id\"") << "\"route-up\"";
    QTest::newRow("hook written with dashes") << with("--down /tmp/evil.sh") << "\"down\"";
    QTest::newRow("environment for scripts") << with("setenv opt block-outside-dns") << "\"setenv\"";
    QTest::newRow("management port") << with("management 0.0.0.0 7505") << "\"management\"";
    QTest::newRow("log over a file") << with("log-append /etc/passwd") << "\"log-append\"";
    QTest::newRow("ca from a file") << with("ca /etc/ssl/certs/ca.pem") << "\"ca\"";
    QTest::newRow("tls-auth from a file") << with("tls-auth /etc/openvpn/ta.key 1") << "\"tls-auth\"";
    QTest::newRow("credentials from a file") << with("auth-user-pass /home/user/creds.txt") << "\"auth-user-pass\"";
    QTest::newRow("compression on") << with("comp-lzo yes") << "\"comp-lzo\"";
    QTest::newRow("tap device") << with("dev tap0") << "\"dev\"";
    QTest::newRow("second directive smuggled as extra words")
        << with("verify-x509-name server name up /tmp/evil.sh") << "\"verify-x509-name\"";
    QTest::newRow("second directive smuggled through an escaped quote")
        << with("verify-x509-name \"server\\\" up \\\"/tmp/evil.sh\"") << "\"verify-x509-name\"";
    QTest::newRow("second directive smuggled after a carriage return")
        << with("verb 3\rup /tmp/evil.sh") << "control character";
    QTest::newRow("NUL byte") << with(QStringLiteral("verb 3") + QChar(0) + "up /tmp/evil.sh") << "NUL";
    QTest::newRow("block closed early to run a directive")
        << QString(base).replace("-----END CERTIFICATE-----\n</ca>",
                                 "-----END CERTIFICATE-----\n</ca>\nup /tmp/evil.sh\n<extra-certs>\n"
                                 "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n</extra-certs>")
        << "\"up\"";
    QTest::newRow("script in a certificate block")
        << QString(base).replace("-----BEGIN CERTIFICATE-----", "#!/bin/sh -c id\n-----BEGIN CERTIFICATE-----\nup x")
        << "<ca>";
    QTest::newRow("connection block") << with("<connection>\nremote 198.18.0.1 1194\n</connection>") << "<connection>";
    QTest::newRow("stray key line, never echoed") << with(key) << "does not know";
    QTest::newRow("oversized") << base + QString("# padding\n").repeated(maxProfileSize / 10) << "larger than 256 KiB";
}

void TestHelperProto::hostileOpenVpnProfileRefused()
{
    QFETCH(QString, profile);
    QFETCH(QString, named);
    const OpenVpnProfileCheck check = checkOpenVpnProfile(profile);
    QVERIFY(!check.ok);
    QVERIFY(check.profile.isEmpty());
    QVERIFY2(check.error.startsWith(QLatin1String("The server's OpenVPN profile was refused: ")),
             qPrintable(check.error));
    QVERIFY2(check.error.contains(named), qPrintable(check.error));
    // No key or certificate material in what the user and the log get.
    QVERIFY2(!check.error.contains(QLatin1String("MII")), qPrintable(check.error));
}

void TestHelperProto::realProfilesRebuiltForOpenVpn()
{
    for (const QString &profile : m_profiles) {
        const OpenVpnProfileCheck check = checkOpenVpnProfile(profile);
        QVERIFY2(check.ok, qPrintable(check.error));
        // The service's own profile passes whole: every line it has, nothing added.
        QStringList lines;
        for (const QString &line : profile.split(QLatin1Char('\n'))) {
            if (!line.trimmed().isEmpty())
                lines << line.trimmed();
        }
        QCOMPARE(check.profile.split(QLatin1Char('\n'), Qt::SkipEmptyParts), lines);
        QCOMPARE(openVpnComplaint(check.profile), QString());
    }

    // A provider's fuller profile: comments, CRLF, a certificate's text dump, a static key
    // with its comments, the Windows-only DNS guard and the old inline spellings.
    QProcess genkey;
    genkey.start(qEnvironmentVariable("TAVRIX_BIN_DIR") + QStringLiteral("/openvpn"),
                 {QStringLiteral("--genkey"), QStringLiteral("secret"), m_dir.filePath(QStringLiteral("ta.key"))});
    QVERIFY(genkey.waitForFinished(10000));
    QFile staticKey(m_dir.filePath(QStringLiteral("ta.key")));
    QVERIFY(staticKey.open(QIODevice::ReadOnly));
    const QString ca = m_profiles.at(0).section(QStringLiteral("<ca>\n"), 1).section(QStringLiteral("</ca>"), 0, 0);
    QString full = QStringLiteral("# provider profile\nclient\ndev tun\nproto udp\nremote vpn1.example.test 1194 udp\n"
                                  "remote 198.18.0.7 443 tcp-client\nremote-random\nresolv-retry infinite\nnobind\n"
                                  "persist-key\npersist-tun\n;comment\nremote-cert-tls server\n"
                                  "verify-x509-name \"C=DE, O=Example VPN, CN=vpn1.example.test\" subject\n"
                                  "auth-user-pass\nauth-nocache\nauth-retry interact\ncipher AES-256-GCM\n"
                                  "data-ciphers AES-256-GCM:CHACHA20-POLY1305\nauth SHA512\ntls-client\n"
                                  "tls-version-min 1.2\ncompress\nkeepalive 10 60\nmssfix 1450\nreneg-sec 0\n"
                                  "explicit-exit-notify 2\nredirect-gateway def1 bypass-dhcp\nblock-outside-dns\n"
                                  "tls-auth [inline] 1\nca [inline]\nverb 9\n<ca>\nCertificate:\n    Data:\n"
                                  "        Version: 3 (0x2)\n") +
                   ca + QStringLiteral("</ca>\n<tls-auth>\n") + QString::fromLatin1(staticKey.readAll()) +
                   QStringLiteral("</tls-auth>\n");
    full.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    const OpenVpnProfileCheck check = checkOpenVpnProfile(full);
    QVERIFY2(check.ok, qPrintable(check.error));
    QCOMPARE(openVpnComplaint(check.profile), QString());
    QVERIFY(check.profile.contains(QLatin1String("key-direction 1\n")));
    // Session keys never reach the engine's log, whatever level the server asks for.
    QVERIFY(check.profile.contains(QLatin1String("\nverb 4\n")));
    QVERIFY(check.profile.contains(QLatin1String("\"C=DE, O=Example VPN, CN=vpn1.example.test\" subject\n")));
    for (const char *gone : {"#", ";", "\r", "Certificate:", "block-outside-dns", "[inline]"})
        QVERIFY2(!check.profile.contains(QLatin1String(gone)), gone);
    // Rebuilding is stable: what was rebuilt passes unchanged.
    QCOMPARE(checkOpenVpnProfile(check.profile).profile, check.profile);
}

void TestHelperProto::hostileWireGuardRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("named");
    const QString base = m_wireGuard;
    auto inInterface = [&base](const QString &line) {
        return QString(base).replace(QLatin1String("[Interface]\n"), "[Interface]\n" + line + "\n");
    };
    auto inPeer = [&base](const QString &line) {
        return QString(base).replace(QLatin1String("[Peer]\n"), "[Peer]\n" + line + "\n");
    };
    const QString peerKey = QStringLiteral("LGXJ357eYj9KtAIMvOIY/O+YNStYzGb3nyYsDUiVVHY=");

    QTest::newRow("PostUp hook") << inInterface("PostUp = iptables -F") << "\"PostUp\"";
    QTest::newRow("PreUp hook") << inInterface("PreUp = curl x | sh") << "\"PreUp\"";
    QTest::newRow("lower-case predown") << inInterface("predown = rm -rf ~") << "\"PreDown\"";
    QTest::newRow("PostDown hook") << inInterface("PostDown = sh") << "\"PostDown\"";
    QTest::newRow("SaveConfig") << inInterface("SaveConfig = true") << "\"SaveConfig\"";
    QTest::newRow("routing table") << inInterface("Table = off") << "\"Table\"";
    QTest::newRow("firewall mark") << inInterface("FwMark = 0xca6c") << "\"FwMark\"";
    QTest::newRow("unknown setting") << inInterface("Hook = x") << "does not know";
    QTest::newRow("peer setting in the interface") << inInterface("PublicKey = " + peerKey) << "\"PublicKey\"";
    QTest::newRow("truncated private key")
        << QString(base).replace(QRegularExpression("PrivateKey = (\\S{20})\\S*"), "PrivateKey = \\1") << "PrivateKey";
    // Same 32 bytes for some decoders, another key for none: only the one spelling passes.
    QTest::newRow("public key in a second spelling")
        << QString(base).replace(QRegularExpression("PublicKey = \\S*"), "PublicKey = " + peerKey.chopped(2) + "Z=")
        << "PublicKey";
    QTest::newRow("address that does not parse")
        << QString(base).replace(QRegularExpression("Address = [^\n]*"), "Address = 10.66.1}&.150/32") << "Address";
    QTest::newRow("address with a second command")
        << QString(base).replace(QRegularExpression("Address = [^\n]*"), "Address = 10.66.1.2/32; ip link del eth0")
        << "Address";
    QTest::newRow("prefix too long") << inPeer("AllowedIPs = 10.0.0.0/33") << "AllowedIPs";
    QTest::newRow("endpoint without port") << inPeer("PersistentKeepalive = 5\nEndpoint = 10.231.0.1") << "Endpoint";
    QTest::newRow("carriage return inside a line") << inInterface("MTU = 1420\rPostUp = sh") << "control character";
    QString many = base;
    for (int i = 0; i < maxPeers; ++i)
        many += QStringLiteral("\n[Peer]\nPublicKey = %1\nAllowedIPs = 10.9.%2.0/24\n")
                    .arg(QString::fromLatin1(QByteArray(32, char(i + 1)).toBase64()))
                    .arg(i);
    QTest::newRow("too many peers") << many << "more than 16 [Peer]";
    QTest::newRow("no interface") << base.section(QStringLiteral("[Peer]"), 1).prepend("[Peer]") << "[Interface]";
}

void TestHelperProto::hostileWireGuardRefused()
{
    QFETCH(QString, text);
    QFETCH(QString, named);
    WireGuardConfig config;
    QString error;
    QVERIFY(!parseWireGuardConfig(text, &config, &error));
    QVERIFY2(error.startsWith(QLatin1String("The WireGuard configuration was refused: ")), qPrintable(error));
    QVERIFY2(error.contains(named), qPrintable(error));
    const QString privateKey = m_wireGuard.section(QStringLiteral("PrivateKey = "), 1).left(12);
    QVERIFY(!error.contains(privateKey));
}

void TestHelperProto::wireGuardRoundTripsAndFieldsAreRechecked()
{
    WireGuardConfig config;
    QString error;
    QVERIFY2(parseWireGuardConfig(m_wireGuard, &config, &error), qPrintable(error));
    QVERIFY(m_wireGuard.contains("PrivateKey = " + config.privateKey));
    QCOMPARE(config.peers.size(), 1);
    QVERIFY(!config.addresses.isEmpty() && !config.peers.at(0).allowedIps.isEmpty());
    QVERIFY(m_wireGuard.contains(wireGuardTunnelAddress(config) + '/'));

    // The rebuilt text reads back to the same fields, hooks-free; the setconf text carries
    // only what wg itself takes.
    const QString quick = wireGuardQuickText(config);
    WireGuardConfig again;
    QVERIFY(parseWireGuardConfig(quick, &again, &error));
    QCOMPARE(wireGuardQuickText(again), quick);
    const QString setconf = wireGuardSetconfText(config);
    QCOMPARE(wireGuardSetconfText(again), setconf);
    for (const char *absent : {"Address", "DNS", "MTU", "Up", "Down", "Table", "FwMark", "SaveConfig"})
        QVERIFY2(!setconf.contains(QLatin1String(absent)), absent);
    QVERIFY(setconf.contains("PublicKey = " + config.peers.at(0).publicKey + '\n'));

    // Fields that arrive over the bus are checked again: a line break in one would otherwise
    // write a hook into the text.
    const QList<std::function<void(WireGuardConfig &)>> breakages{
        [](WireGuardConfig &c) { c.addresses << QStringLiteral("10.0.0.2/32\nPostUp = sh"); },
        [](WireGuardConfig &c) { c.peers[0].endpoint = QStringLiteral("10.0.0.1:51820\nPostUp = sh"); },
        [](WireGuardConfig &c) { c.peers[0].allowedIps << QStringLiteral("0.0.0.0/0, ::/0"); },
        [](WireGuardConfig &c) { c.dns << QStringLiteral("resolver.example"); },
        [](WireGuardConfig &c) {
            for (int i = 0; i < maxPeers; ++i)
                c.peers << c.peers.at(0);
        },
        [](WireGuardConfig &c) { c.mtu = 70000; },
        [](WireGuardConfig &c) { c.privateKey.chop(1); },
    };
    for (const auto &breakage : breakages) {
        WireGuardConfig broken = config;
        breakage(broken);
        QVERIFY(!validateWireGuardConfig(broken, &error));
        QVERIFY(!error.isEmpty());
    }
}

void TestHelperProto::validators_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("valid");
    const struct
    {
        const char *kind;
        QString value;
        bool valid;
    } rows[] = {
        {"user", "premium@tavrixvpn.test", true},
        {"user", "name\nusername Auth evil", false},
        {"user", QString(maxUserNameLength + 1, 'a'), false},
        {"password", "p\"a\\ss word", true},
        {"password", "pass\nwordsend", false},
        {"password", QStringLiteral("pa") + QChar(0) + "ss", false},
        {"password", QString(), false},
        {"interface", "tvxwg1234", true},
        {"interface", "-x", false},
        {"interface", "..", false},
        {"interface", "eth0/../lo", false},
        {"interface", "averyveryverylong0", false},
        {"ip", "10.231.0.1", true},
        {"ip", "fd00::1", true},
        {"ip", "::ffff:10.0.0.1", true},
        {"ip", "010.0.0.1", false},
        {"ip", "256.0.0.1", false},
        {"ip", "fe80::1%eth0", false},
        {"ip", "1:2:3:4:5:6:7:8:9", false},
        {"ip", QStringLiteral("1\u0661.0.0.1"), false},
        {"cidr", "0.0.0.0/0", true},
        {"cidr", "fd00::/64", true},
        {"cidr", "10.0.0.0/33", false},
        {"cidr", "10.0.0.0", false},
        {"endpoint", "vpn.example.test:51820", true},
        {"endpoint", "10.231.0.1:1194", true},
        {"endpoint", "[fd00::1]:51820", true},
        {"endpoint", "fd00::1:51820", false},
        {"endpoint", "10.231.0.1:0", false},
        {"endpoint", "host:65536", false},
        {"endpoint", "-oProxyCommand=x:22", false},
    };
    for (const auto &row : rows)
        QTest::addRow("%s %s", row.kind, qPrintable(QString(row.value).left(20).replace('\n', "\\n")))
            << QString::fromLatin1(row.kind) << row.value << row.valid;
}

void TestHelperProto::validators()
{
    QFETCH(QString, kind);
    QFETCH(QString, value);
    QFETCH(bool, valid);
    const QMap<QString, bool (*)(const QString &)> validators{
        {"user", isValidUserName}, {"password", isValidPassword}, {"interface", isValidInterfaceName},
        {"ip", isValidIpAddress},  {"cidr", isValidCidr},         {"endpoint", isValidEndpoint},
    };
    QCOMPARE(validators.value(kind)(value), valid);
}

// The kill switch's requests: what the helper must refuse (so nothing but addresses, numbers and
// its own interface names reaches nft), and for the valid ones the ruleset nft really takes, in
// a network namespace of its own, applied after a Blocked one as the helper changes states.
void TestHelperProto::killSwitchRequests_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QStringList>("endpoints"); // "proto address port"
    QTest::addColumn<QStringList>("interfaces");
    QTest::addColumn<QStringList>("dns");
    QTest::addColumn<QString>("refusal");    // empty: valid
    QTest::addColumn<QStringList>("listed"); // what `nft list ruleset` shows afterwards

    const QStringList tunnels{"tun*", "tvxwg4242", "TavrixVPN"};
    QTest::newRow("blocked") << "blocked" << QStringList{"udp 10.231.0.1 51820", "tcp fd00:231::1 443"} << QStringList()
                             << QStringList() << QString()
                             << QStringList{"policy drop", "ip daddr 10.231.0.1 udp dport 51820 accept",
                                            "ip6 daddr fd00:231::1 tcp dport 443 accept"};
    QTest::newRow("tunnel, DNS only to the tunnel's")
        << "tunnel" << QStringList{"udp 10.231.0.1 0"} << tunnels << QStringList{"10.231.30.1"} << QString()
        << QStringList{"policy drop", "ip daddr != 10.231.30.1",
                       "meta nfproto ipv6 meta l4proto { tcp, udp } th dport 53 drop",
                       "oifname { \"TavrixVPN\", \"tun*\", \"tvxwg4242\" } accept"};
    QTest::newRow("tunnel-ipv6: IPv4 free, IPv6 only through the tunnel")
        << "tunnel-ipv6" << QStringList{"udp fd00:231::1 51820"} << QStringList{"tvxwg*"} << QStringList() << QString()
        << QStringList{"policy accept", "oifname \"tvxwg*\" accept", "meta nfproto ipv6 counter"};
    QTest::newRow("off: no table") << "off" << QStringList() << QStringList() << QStringList() << QString()
                                   << QStringList();
    QTest::newRow("outer link as a tunnel") << "tunnel" << QStringList() << QStringList{"eth0"} << QStringList()
                                            << "not a tunnel interface" << QStringList();
    QTest::newRow("a lab's outer link named like ours") << "tunnel" << QStringList() << QStringList{"tvx1234c"}
                                                        << QStringList() << "not a tunnel interface" << QStringList();
    QTest::newRow("interface with a quote") << "tunnel" << QStringList() << QStringList{"tun\"x"} << QStringList()
                                            << "not a tunnel interface" << QStringList();
    QTest::newRow("host name as endpoint") << "blocked" << QStringList{"udp vpn.example 1194"} << QStringList()
                                           << QStringList() << "not an IP address" << QStringList();
    QTest::newRow("rule text as endpoint") << "blocked" << QStringList{"udp 1.2.3.4;accept 1"} << QStringList()
                                           << QStringList() << "not an IP address" << QStringList();
    QTest::newRow("other protocol") << "blocked" << QStringList{"icmp 1.2.3.4 0"} << QStringList() << QStringList()
                                    << "tcp or udp" << QStringList();
    QTest::newRow("tunnel without interfaces")
        << "tunnel" << QStringList() << QStringList() << QStringList() << "interfaces are missing" << QStringList();
    QStringList many;
    for (int i = 0; i <= maxKillSwitchEndpoints; ++i)
        many << QStringLiteral("udp 10.0.0.%1 1").arg(i + 1);
    QTest::newRow("too many endpoints") << "blocked" << many << QStringList() << QStringList() << "too many"
                                        << QStringList();
}

void TestHelperProto::killSwitchRequests()
{
    QFETCH(QString, state);
    QFETCH(QStringList, endpoints);
    QFETCH(QStringList, interfaces);
    QFETCH(QStringList, dns);
    QFETCH(QString, refusal);
    QFETCH(QStringList, listed);

    KillSwitchRequest request;
    QVERIFY(parseKillSwitchState(state, &request.state));
    for (const QString &text : endpoints) {
        const QStringList parts = text.split(' ');
        request.endpoints << KillSwitchAddress{parts.at(1), quint16(parts.at(2).toUInt()), parts.at(0)};
    }
    request.services << KillSwitchAddress{QStringLiteral("10.231.0.3"), 8443, QStringLiteral("tcp")};
    request.interfaces = interfaces;
    request.dns = dns;
    QString error;
    QCOMPARE(validateKillSwitchRequest(request, &error), refusal.isEmpty());
    if (!refusal.isEmpty()) {
        QVERIFY2(error.contains(refusal), qPrintable(error));
        return;
    }
    // What the helper keeps for the boot reads back the same.
    KillSwitchRequest stored;
    QVERIFY2(parseKillSwitchStoredText(killSwitchStoredText(request), &stored, &error), qPrintable(error));
    QCOMPARE(stored.endpoints.size() + stored.services.size(), request.endpoints.size() + 1);

    if (geteuid() != 0 || !QFileInfo(QStringLiteral("/usr/sbin/nft")).isExecutable())
        QSKIP("applying the rules needs root and nft");
    KillSwitchRequest blocked = request;
    blocked.state = KillSwitchState::Blocked;
    QTemporaryDir dir;
    QFile first(dir.filePath(QStringLiteral("first.nft")));
    QFile second(dir.filePath(QStringLiteral("second.nft")));
    QVERIFY(first.open(QIODevice::WriteOnly) && second.open(QIODevice::WriteOnly));
    first.write(killSwitchRuleset(1000, blocked));
    second.write(killSwitchRuleset(1000, request));
    first.close();
    second.close();
    QProcess nft;
    nft.setProcessChannelMode(QProcess::MergedChannels);
    // A network namespace that ends with the shell: the host's firewall is never touched.
    nft.start(
        QStringLiteral("unshare"),
        {QStringLiteral("-n"), QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("nft -f '%1' && nft -f '%2' && nft list ruleset").arg(first.fileName(), second.fileName())});
    QVERIFY(nft.waitForFinished(10000));
    const QString output = QString::fromUtf8(nft.readAll());
    QVERIFY2(nft.exitCode() == 0, qPrintable(output + QString::fromUtf8(killSwitchRuleset(1000, request))));
    QCOMPARE(output.contains(QLatin1String("table inet tavrixvpn_1000")), request.state != KillSwitchState::Off);
    for (const QString &line : listed)
        QVERIFY2(output.contains(line), qPrintable(line + QStringLiteral(" not in:\n") + output));
}

// The OpenConnect library's IP information as a server sends it (netmask forms, host bits,
// catch-alls, IPv6 written loosely) becomes settings the helper takes, or is refused here.
void TestHelperProto::libraryIpInfoBecomesCheckedTunSettings_data()
{
    QTest::addColumn<QStringList>("info"); // addr, netmask, netmask6, DNS servers, domain
    QTest::addColumn<QStringList>("includes");
    QTest::addColumn<QStringList>("excludes");
    // "includes | excludes | address6/prefix | DNS | domains", or "refused"
    QTest::addColumn<QString>("expected");

    const QStringList lab{"10.231.10.121", "255.255.255.0", "", "10.231.10.1", "lab.test"};
    QTest::newRow("netmask routes") << lab << QStringList{"198.18.100.0/255.255.255.0"}
                                    << QStringList{"10.231.0.128/255.255.255.128"}
                                    << "198.18.100.0/24 | 10.231.0.128/25 |  | 10.231.10.1 | lab.test";
    QTest::newRow("host bits cleared, duplicates once")
        << lab << QStringList{"10.1.2.3/255.255.0.0", "10.1.0.0/16", "192.0.2.7"} << QStringList()
        << "10.1.0.0/16,192.0.2.7/32 |  |  | 10.231.10.1 | lab.test";
    QTest::newRow("catch-all include is a full tunnel")
        << lab << QStringList{"10.1.0.0/16", "0.0.0.0/0.0.0.0"} << QStringList() << " |  |  | 10.231.10.1 | lab.test";
    QTest::newRow("IPv6 written loosely")
        << QStringList{"10.231.10.121", "255.255.255.0", "FD00:231:10:0::5/64", "fd00:231:10::1", "a.test b.test"}
        << QStringList{"FD00:0:0:0::/48", "2001:db8:0:0:1:0:0:1/128"} << QStringList()
        << "fd00::/48,2001:db8::1:0:0:1/128 |  | FD00:231:10:0::5/64 | fd00:231:10::1 | a.test,b.test";
    // What is no use on a tunnel is left out, the tunnel kept.
    QTest::newRow("unusable routes, DNS and domains left out")
        << QStringList{"10.231.10.121", "255.255.255.0", "", "127.0.0.53", "lab.test 10.0.0.1 -x.test"}
        << QStringList{"not-a-route", "10.0.0.0/33", "239.1.0.0/16", "198.18.100.0/24"}
        << QStringList{"127.0.0.0/8", "0.0.0.0/0", "10.231.0.128/25"}
        << "198.18.100.0/24 | 10.231.0.128/25 |  |  | lab.test";
    // Never widened to everything, nor made from nonsense.
    QTest::newRow("nothing but unusable includes")
        << lab << QStringList{"239.1.0.0/255.255.0.0", "127.0.0.0/8"} << QStringList() << "refused";
    QTest::newRow("non-contiguous netmask")
        << QStringList{"10.231.10.121", "255.0.255.0", "", "", ""} << QStringList() << QStringList() << "refused";
    QTest::newRow("loopback address") << QStringList{"127.0.0.2", "255.0.0.0", "", "", ""} << QStringList()
                                      << QStringList() << "refused";
    QTest::newRow("no address") << QStringList{"", "", "", "10.231.10.1", ""} << QStringList() << QStringList()
                                << "refused";
}

void TestHelperProto::libraryIpInfoBecomesCheckedTunSettings()
{
    QFETCH(QStringList, info);
    QFETCH(QStringList, includes);
    QFETCH(QStringList, excludes);
    QFETCH(QString, expected);

    QList<QByteArray> keep;
    auto text = [&keep](const QString &value) -> const char * {
        if (value.isEmpty())
            return nullptr;
        keep.append(value.toLatin1());
        return keep.last().constData();
    };
    auto chain = [&text](const QStringList &routes, QList<oc_split_include> &items) {
        items.reserve(routes.size());
        for (const QString &route : routes)
            items.append(oc_split_include{text(route), nullptr});
        for (int i = 0; i + 1 < items.size(); ++i)
            items[i].next = &items[i + 1];
        return items.isEmpty() ? nullptr : &items[0];
    };
    QList<oc_split_include> includeItems;
    QList<oc_split_include> excludeItems;
    keep.reserve(32);
    QByteArray gateway("10.231.0.1");
    oc_ip_info ip{};
    ip.addr = text(info.at(0));
    ip.netmask = text(info.at(1));
    ip.netmask6 = text(info.at(2));
    ip.dns[0] = text(info.at(3));
    ip.domain = text(info.at(4));
    ip.mtu = 1434;
    ip.gateway_addr = gateway.data();
    ip.split_includes = chain(includes, includeItems);
    ip.split_excludes = chain(excludes, excludeItems);

    const TunSettings settings = tunSettingsFromIpInfo(ip);
    QString error;
    const bool valid = validateTunSettings(settings, &error);
    if (expected == QLatin1String("refused")) {
        QVERIFY(!valid);
        QVERIFY(!error.isEmpty());
        return;
    }
    QVERIFY2(valid, qPrintable(error));
    const QString address6 =
        settings.address6.isEmpty() ? QString() : settings.address6 + '/' + QString::number(settings.prefix6);
    QCOMPARE(QStringList({settings.includeRoutes.join(','), settings.excludeRoutes.join(','), address6,
                          settings.dns.join(','), settings.domains.join(',')})
                 .join(QStringLiteral(" | ")),
             expected);
    QCOMPARE(settings.gateway, QStringLiteral("10.231.0.1"));
    // What crosses the bus reads back the same on the helper's side.
    TunSettings again;
    QVERIFY2(readTunSettings(tunSettingsFields(settings), &again, &error), qPrintable(error));
    QVERIFY(again == settings);
}

TAVRIX_TEST_MAIN_CORE(TestHelperProto)

#include "tst_helperproto.moc"
