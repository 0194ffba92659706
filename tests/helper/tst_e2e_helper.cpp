// The privileged helper as a desktop user meets it: the helper runs as root on a private system
// bus with polkit, inside the lab's client namespace; every client is an ordinary user without
// any capability. Hostile requests are refused before anything runs; OpenVPN and WireGuard
// connect through the helper with traffic and leave nothing behind; a tunnel belongs to its
// caller alone and ends with it. OpenConnect stays in the client: the helper hands it a tun
// device and sets the device's addresses, routes and DNS from typed settings.
// The same executable plays the client (--client ...).

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusUnixFileDescriptor>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <iostream>
#include <poll.h>
#include <string>

#include "helper/helperbus.h"
#include "helperlab.h"
#include "openvpnlab.h"
#include "testmain.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/openvpnrunner.h"
#include "wglabclient.h"

using Tavrix::OpenConnectConnection;
using TavrixTest::HelperLab;
using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;

namespace {

const QString vpnUser = QStringLiteral("alice");
const QString vpnPassword = QStringLiteral("pa\"ss\\word");
constexpr int probePort = 7777;
const QByteArray probeAnswer = QByteArrayLiteral("tavrix-inside");
const char *leakMarker = "TAVRIX_HELPER_SECRET=must-not-reach-children";
const QString ocUser = QStringLiteral("testuser");
const QString ocPassword = QStringLiteral("testpass");
// Kept outside the tunnel by the server's split rows: on the client's own link.
const QString ocExcluded = QStringLiteral("10.231.0.128/25");

// --- The client side (an ordinary user) -------------------------------------------------

void say(const QString &line)
{
    std::cout << line.toStdString() << std::endl;
}

QDBusMessage callHelper(const char *method, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(Tavrix::HelperBus::serviceName), QLatin1String(Tavrix::HelperBus::objectPath),
        QLatin1String(Tavrix::HelperBus::interfaceName), QLatin1String(method));
    message.setArguments(arguments);
    return QDBusConnection::systemBus().call(message, QDBus::Block, 30000);
}

// Typed fields from JSON: strings, lists of strings, numbers as "u", Peers as aa{sv}.
QVariantMap fieldsFromJson(const QJsonObject &object)
{
    QVariantMap fields;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonValue value = it.value();
        if (it.key() == QLatin1String("Peers") && value.isArray()) {
            QList<QVariantMap> peers;
            for (const QJsonValue &peer : value.toArray())
                peers.append(fieldsFromJson(peer.toObject()));
            fields.insert(it.key(), QVariant::fromValue(peers));
        } else if (value.isArray()) {
            QStringList list;
            for (const QJsonValue &item : value.toArray())
                list.append(item.toString());
            fields.insert(it.key(), list);
        } else if (value.isDouble()) {
            fields.insert(it.key(), uint(value.toDouble()));
        } else {
            fields.insert(it.key(), value.toString());
        }
    }
    return fields;
}

bool probeInside()
{
    QTcpSocket socket;
    socket.connectToHost(QString::fromLatin1(NetnsLab::insideAddress), probePort);
    if (!socket.waitForConnected(3000))
        return false;
    while (socket.bytesAvailable() < probeAnswer.size() && socket.waitForReadyRead(3000)) {
    }
    return socket.readAll().contains(probeAnswer);
}

// Nothing of root's listens on TCP in this namespace (the management link is never a port;
// the development service of the WireGuard run is this user's own).
bool noTcpListener()
{
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file{QString::fromLatin1(table)};
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n').mid(1)) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 7 && fields.at(3) == "0A" && fields.at(7) == "0")
                return false;
        }
    }
    return true;
}

void waitForLine()
{
    std::string line;
    std::getline(std::cin, line);
}

// The same while the event loop runs (a lost tunnel is brought back meanwhile).
void waitForLineInEventLoop()
{
    pollfd input{0, POLLIN, 0};
    while (::poll(&input, 1, 0) == 0)
        QTest::qWait(50);
    waitForLine();
}

bool waitForStatus(std::shared_ptr<OpenConnectConnection> controller, QSignalSpy &spy,
                   OpenConnectConnection::Status wanted, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        for (const QList<QVariant> &arguments : spy) {
            if (arguments.at(0).toInt() == wanted)
                return true;
        }
        spy.wait(100);
    }
    Q_UNUSED(controller)
    return false;
}

// A request straight to the helper; "UP <id>" and a wait for stdin, or "ERROR <name> <text>".
int clientStart(const QString &kind, const QString &file)
{
    QFile input(file);
    input.open(QIODevice::ReadOnly);
    const QByteArray payload = input.readAll();
    qDBusRegisterMetaType<QList<QVariantMap>>();
    if (kind == QLatin1String("tun")) {
        // A device of our own, configured from the payload's fields when it has any.
        const QDBusMessage created = callHelper("CreateTun", {});
        if (created.type() != QDBusMessage::ReplyMessage) {
            say(QStringLiteral("ERROR %1 %2").arg(created.errorName(), created.errorMessage()));
            return 0;
        }
        const QString id = created.arguments().value(0).toString();
        if (!payload.trimmed().isEmpty()) {
            const QDBusMessage configured =
                callHelper("ConfigureTun", {id, fieldsFromJson(QJsonDocument::fromJson(payload).object())});
            if (configured.type() != QDBusMessage::ReplyMessage) {
                say(QStringLiteral("ERROR %1 %2").arg(configured.errorName(), configured.errorMessage()));
                return 0;
            }
        }
        say(QStringLiteral("UP ") + id);
        waitForLine();
        return 0;
    }
    QDBusMessage reply =
        kind == QLatin1String("openvpn")
            ? callHelper("StartOpenVpn", {QString::fromUtf8(payload)})
            : callHelper("StartWireGuard", {fieldsFromJson(QJsonDocument::fromJson(payload).object())});
    // Outline and split tunnelling
    if (kind == QLatin1String("outline"))
        reply = callHelper("StartOutline", {fieldsFromJson(QJsonDocument::fromJson(payload).object())});
    else if (kind == QLatin1String("bypass"))
        reply = callHelper("SetBypassPrograms", {QString::fromUtf8(payload).split(QLatin1Char('\n'))});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        say(QStringLiteral("ERROR %1 %2").arg(reply.errorName(), reply.errorMessage()));
        return 0;
    }
    say(QStringLiteral("UP ") + reply.arguments().first().toString());
    waitForLine();
    return 0;
}

// Settings for a device given by its id (someone else's, in the hostile rows).
int clientConfigure(const QString &tunnelId, const QString &file)
{
    QFile input(file);
    input.open(QIODevice::ReadOnly);
    const QDBusMessage reply =
        callHelper("ConfigureTun", {tunnelId, fieldsFromJson(QJsonDocument::fromJson(input.readAll()).object())});
    say(reply.type() == QDBusMessage::ReplyMessage
            ? QStringLiteral("OK")
            : QStringLiteral("ERROR %1 %2").arg(reply.errorName(), reply.errorMessage()));
    return 0;
}

int clientStop(const QString &tunnelId)
{
    const QDBusMessage reply = callHelper("Stop", {tunnelId});
    say(reply.type() == QDBusMessage::ReplyMessage
            ? QStringLiteral("OK")
            : QStringLiteral("ERROR %1 %2").arg(reply.errorName(), reply.errorMessage()));
    return 0;
}

// What the client writes to its log (qDebug and friends, as the application's handler sees them).
QString &clientLog()
{
    static QString log;
    return log;
}

// The client's own controller, as the window drives it.
int clientConnect(const QString &kind)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
        clientLog() += text + QLatin1Char('\n');
        fprintf(stderr, "%s\n", qPrintable(text));
    });
    auto controller = OpenConnectConnection::instance();
    QSignalSpy statuses(controller.get(), &OpenConnectConnection::statusChanged);
    TavrixTest::DevService service;
    if (kind == QLatin1String("openvpn")) {
        controller->setUsername(vpnUser);
        controller->setPassword(vpnPassword);
        controller->setType(OpenConnectConnection::OPENVPN);
        controller->setConfig(qEnvironmentVariable("TVX_PROFILE"), qEnvironmentVariable("TVX_ADDRESS"));
    } else if (kind == QLatin1String("openconnect")) {
        // The reconnect policy's shape with short waits, so that a lost server is back quickly.
        controller->setReconnectTimingForTests({500, 2000, 60000, 8000, 15000, 1, 500});
        QObject::connect(controller.get(), &OpenConnectConnection::reconnectingChanged, [](bool reconnecting) {
            say(reconnecting ? QStringLiteral("STEP RECONNECTING") : QStringLiteral("STEP RECONNECTED"));
            if (reconnecting)
                return;
            // The library got its own session back (no fresh sign-in, no new device).
            if (clientLog().contains(QLatin1String("OpenConnect session re-established")))
                say(QStringLiteral("STEP RESUMED"));
            if (probeInside())
                say(QStringLiteral("STEP TRAFFIC_BACK"));
        });
        OpenConnectConnection::initTls();
        auto server = std::make_shared<Tavrix::OpenConnectServer>();
        server->setHost(qEnvironmentVariable("TVX_ADDRESS"));
        controller->setServer(server);
        controller->setUsername(ocUser);
        controller->setPassword(ocPassword);
        controller->setType(OpenConnectConnection::OPENCONNECT);
    } else {
        QString error;
        if (!TavrixTest::signInToWireGuardServer(service, &error)) {
            say(QStringLiteral("STEP FAILED ") + error);
            return 1;
        }
        controller->setType(OpenConnectConnection::WIREGUARD);
    }
    if (probeInside())
        say(QStringLiteral("STEP REACHABLE_WITHOUT_TUNNEL"));
    controller->connect();
    if (!waitForStatus(controller, statuses, OpenConnectConnection::CONNECTED, 30000)) {
        say(QStringLiteral("STEP NOT_CONNECTED"));
        return 1;
    }
    say(QStringLiteral("STEP CONNECTED"));
    if (probeInside())
        say(QStringLiteral("STEP TRAFFIC_OK"));
    // The helper's folder (profiles, keys, management sockets) is closed to this user.
    if (QDir(qEnvironmentVariable("TVX_RUNTIME")).entryList(QDir::Files | QDir::System).isEmpty() &&
        !QFileInfo(qEnvironmentVariable("TVX_RUNTIME")).isReadable())
        say(QStringLiteral("STEP RUNTIME_CLOSED"));
    if (noTcpListener())
        say(QStringLiteral("STEP NO_TCP_LISTENER"));
    // The engine's own lines reach this user's log, and only what the engine said: never the
    // password or the private key. (OpenConnect's engine is this program's own library.)
    if (kind != QLatin1String("openconnect")) {
        const bool openVpn = kind == QLatin1String("openvpn");
        const QString lastLine =
            openVpn ? QStringLiteral("Initialization Sequence Completed") : QStringLiteral("tunnel up on tvxwg");
        QDeadlineTimer deadline(5000);
        while (!clientLog().contains(lastLine) && !deadline.hasExpired())
            QTest::qWait(50);
        const QString log = clientLog();
        QString secret = vpnPassword;
        if (!openVpn) {
            QFile config(qEnvironmentVariable(TavrixTest::wgConfigVariable));
            config.open(QIODevice::ReadOnly);
            const QString text = QString::fromLatin1(config.readAll());
            secret = text.section(QLatin1String("PrivateKey = "), 1).section(QLatin1Char('\n'), 0, 0).trimmed();
        }
        if (log.contains(lastLine) && !secret.isEmpty() && !log.contains(secret))
            say(QStringLiteral("STEP ENGINE_LOG"));
    }
    // No resolver manager on this bus: the user's log says the tunnel's DNS is not in use,
    // rather than pretending it is.
    if (kind == QLatin1String("openconnect") &&
        clientLog().contains(QLatin1String("DNS servers (10.231.10.1) are not used: DNS not applied")))
        say(QStringLiteral("STEP DNS_NOT_APPLIED"));
    waitForLineInEventLoop();
    // Without the tunnel script nothing reads its log: the library's own word on the lost
    // server connection was what told the controller.
    if (clientLog().contains(QLatin1String("OpenConnect lost its server connection")))
        say(QStringLiteral("STEP LOSS_FROM_LIBRARY"));
    statuses.clear();
    controller->disconnectVpn();
    if (!waitForStatus(controller, statuses, OpenConnectConnection::IDLE, 15000))
        return 1;
    QTest::qWait(500);
    // Nothing of the session's device stays open in this process either.
    bool holdsDevice = false;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        holdsDevice = holdsDevice || fd.symLinkTarget() == QLatin1String("/dev/net/tun");
    if (!probeInside() && !holdsDevice)
        say(QStringLiteral("STEP IDLE"));
    return 0;
}

int clientMain(const QStringList &arguments)
{
    const QString verb = arguments.value(2);
    if (verb == QLatin1String("start"))
        return clientStart(arguments.value(3), arguments.value(4));
    if (verb == QLatin1String("stop"))
        return clientStop(arguments.value(3));
    if (verb == QLatin1String("configure"))
        return clientConfigure(arguments.value(3), arguments.value(4));
    if (verb == QLatin1String("connect"))
        return clientConnect(arguments.value(3));
    if (verb == QLatin1String("health")) {
        // "HEALTH <handshake age> <rx> <tx>" of a WireGuard tunnel, or the refusal.
        const QDBusMessage reply = callHelper("WireGuardHealth", {arguments.value(3)});
        const QVariantList values = reply.arguments();
        say(reply.type() == QDBusMessage::ReplyMessage && values.size() == 3
                ? QStringLiteral("HEALTH %1 %2 %3")
                      .arg(values.at(0).toLongLong())
                      .arg(values.at(1).toULongLong())
                      .arg(values.at(2).toULongLong())
                : QStringLiteral("ERROR %1 %2").arg(reply.errorName(), reply.errorMessage()));
        return 0;
    }
    return 2;
}

// --- The test (root) -----------------------------------------------------------------------

QStringList linesOf(const QByteArray &output, const char *prefix)
{
    QStringList lines;
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith(prefix))
            lines.append(QString::fromUtf8(line.mid(int(strlen(prefix)))).trimmed());
    }
    return lines;
}

// The lab peer's client configuration as the typed fields the helper takes.
// Only the lab's tunnel network, or everything (a full tunnel: its own routing table and rules).
QJsonObject wireGuardRequest(const QString &config, bool everything = false)
{
    QString privateKey;
    QString publicKey;
    for (const QString &line : config.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("PrivateKey = ")))
            privateKey = line.mid(13).trimmed();
        else if (line.startsWith(QLatin1String("PublicKey = ")))
            publicKey = line.mid(12).trimmed();
    }
    const QJsonObject peer{{"PublicKey", publicKey},
                           {"AllowedIPs", QJsonArray{everything ? "0.0.0.0/0" : "10.231.30.0/24"}},
                           {"Endpoint", QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(51820)}};
    return {{"PrivateKey", privateKey}, {"Addresses", QJsonArray{"10.231.30.2/24"}}, {"Peers", QJsonArray{peer}}};
}

QByteArray environOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestE2eHelper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void hostileRequestsAreRefusedAndNothingRuns_data();
    void hostileRequestsAreRefusedAndNothingRuns();
    void tunnelBelongsToItsCallerAndEndsWithIt_data();
    void tunnelBelongsToItsCallerAndEndsWithIt();
    void enginesEndWithACrashedHelper();
    void connectsAsOrdinaryUserThroughHelperNotTcpManagementNorElevatedStart_data();
    void connectsAsOrdinaryUserThroughHelperNotTcpManagementNorElevatedStart();

private:
    QStringList clientCommand(const char *user, const QStringList &arguments, const QStringList &environment = {});
    QProcess *startClient(const char *user, const QStringList &arguments, const QStringList &environment = {});
    QString waitForLine(QProcess *client, const char *prefix, int timeoutMs);
    void expectNothingLeft();
    QString writeFile(const QString &name, const QByteArray &content);
    QString clientRoutes();

    NetnsLab m_lab;
    std::unique_ptr<OcservServer> m_ocserv;
    // The client namespace's routes before any tunnel: what every tunnel leaves behind.
    QString m_baselineRoutes;
    QString m_baselineRules;
    std::unique_ptr<TavrixTest::OpenVpnServer> m_openvpn;
    std::unique_ptr<TavrixTest::WireGuardPeer> m_wireguard;
    std::unique_ptr<HelperLab> m_helper;
    QString m_pwned;
};

void TestE2eHelper::initTestCase()
{
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    m_openvpn = std::make_unique<TavrixTest::OpenVpnServer>(m_lab);
    QVERIFY2(m_openvpn->makeCredentials({{vpnUser, vpnPassword}}, &error), qPrintable(error));
    QVERIFY2(m_openvpn->start(&error), qPrintable(error));
    m_wireguard = std::make_unique<TavrixTest::WireGuardPeer>(m_lab);
    QVERIFY2(m_wireguard->start(&error), qPrintable(error));
    m_ocserv = std::make_unique<OcservServer>(m_lab);
    QVERIFY2(m_ocserv->makeCredentials(&error), qPrintable(error));
    m_baselineRoutes = clientRoutes();
    m_baselineRules = m_lab.clientIp({"rule", "show"});
    QVERIFY(m_lab.start(
        m_lab.serverNs(),
        {"socat", QStringLiteral("TCP-LISTEN:%1,bind=%2,reuseaddr,fork").arg(probePort).arg(NetnsLab::insideAddress),
         QStringLiteral("SYSTEM:echo ") + QString::fromLatin1(probeAnswer)}));
    QVERIFY(m_lab.waitForListener(m_lab.serverNs(), probePort));
    m_helper = std::make_unique<HelperLab>(m_lab);
    QVERIFY2(m_helper->start(&error, {QString::fromLatin1(leakMarker)}), qPrintable(error));
    m_pwned = QStringLiteral("/tmp/tvx-pwned-%1").arg(getpid());
    // The lab folder holds the test's files for the clients: readable by them.
    ::chmod(QFile::encodeName(m_lab.dir()).constData(), 0755);
}

void TestE2eHelper::cleanupTestCase()
{
    if (m_helper && QTest::currentTestFailed())
        qWarning().noquote() << m_helper->readFile("helper.log").right(4000);
    m_helper.reset();
    m_ocserv.reset();
    m_wireguard.reset();
    m_openvpn.reset();
    m_lab.down();
    QFile::remove(m_pwned);
}

QString TestE2eHelper::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_lab.dir() + QLatin1Char('/') + name;
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    return path;
}

QStringList TestE2eHelper::clientCommand(const char *user, const QStringList &arguments, const QStringList &environment)
{
    return m_helper->asUser(
        user, QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("--client")} + arguments,
        environment);
}

QProcess *TestE2eHelper::startClient(const char *user, const QStringList &arguments, const QStringList &environment)
{
    const QStringList command = clientCommand(user, arguments, environment);
    auto *client = new QProcess(this);
    client->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client->start(command.first(), command.mid(1));
    client->waitForStarted(5000);
    return client;
}

QString TestE2eHelper::waitForLine(QProcess *client, const char *prefix, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QByteArray seen;
    while (!deadline.hasExpired()) {
        while (client->canReadLine()) {
            const QByteArray line = client->readLine();
            seen += line;
            if (line.startsWith(prefix) || line.startsWith("ERROR") || line.startsWith("STEP NOT_"))
                return QString::fromUtf8(line).trimmed();
        }
        if (!client->waitForReadyRead(200) && client->state() == QProcess::NotRunning)
            break;
    }
    return QString::fromUtf8(seen);
}

QString TestE2eHelper::clientRoutes()
{
    // The link's own IPv6 link-local route comes and goes with the kernel, not with a tunnel.
    QStringList routes = (m_lab.clientIp({"route", "show"}) + m_lab.clientIp({"-6", "route", "show"})).split('\n');
    routes.removeAll(QStringLiteral("fe80::/64 dev %1 proto kernel metric 256 pref medium").arg(m_lab.clientLink()));
    return routes.join('\n');
}

void TestE2eHelper::expectNothingLeft()
{
    QTRY_VERIFY_WITH_TIMEOUT(m_helper->helperChildren().isEmpty(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(m_helper->runtimeFiles(), QStringList(), 5000);
    // A tun device goes once its owner has stopped it or left the bus.
    QTRY_VERIFY_WITH_TIMEOUT(!m_lab.clientIp({"-o", "link", "show"}).contains(QLatin1String("tuntvx")), 5000);
    const QString links = m_lab.clientIp({"-o", "link", "show"});
    QVERIFY2(!links.contains(QLatin1String("tun")) && !links.contains(QLatin1String("tvxwg")), qPrintable(links));
    // Routes kept outside a tunnel (its gateway, excluded networks) go with it too, and a
    // full tunnel's rules and firewall tables.
    QCOMPARE(clientRoutes(), m_baselineRoutes);
    QTRY_COMPARE_WITH_TIMEOUT(m_lab.clientIp({"rule", "show"}), m_baselineRules, 5000);
    QByteArray tables;
    TavrixTest::runProgram(QStringLiteral("ip"), {"netns", "exec", m_lab.clientNs(), "nft", "list", "tables"}, &tables);
    QVERIFY2(!tables.contains("tvxwg") && !tables.contains("wg-quick"), tables.constData());
    QVERIFY(!QFileInfo::exists(m_pwned));
}

void TestE2eHelper::hostileRequestsAreRefusedAndNothingRuns_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("error");

    const QByteArray profile = m_openvpn->clientProfile();
    const QByteArray shell = "/bin/sh -c 'touch " + m_pwned.toLatin1() + "'";
    const QString invalid = QLatin1String(Tavrix::HelperBus::errorInvalidRequest);
    QTest::newRow("plugin with a shell command")
        << "nobody"
        << "openvpn" << profile + "plugin openvpn-plugin-down-root.so \"" + shell + "\"\n"
        << invalid;
    QTest::newRow("up script") << "nobody"
                               << "openvpn" << profile + "script-security 2\nup \"" + shell + "\"\n"
                               << invalid;
    QTest::newRow("file argument") << "nobody"
                                   << "openvpn"
                                   << QByteArray(profile).replace("auth-user-pass", "auth-user-pass /etc/shadow")
                                   << invalid;
    QTest::newRow("management of its own") << "nobody"
                                           << "openvpn" << profile + "management 0.0.0.0 7505\n"
                                           << invalid;
    QTest::newRow("oversized profile") << "nobody"
                                       << "openvpn" << profile + QByteArray(300 * 1024, '#') << invalid;

    const QJsonObject good = wireGuardRequest(m_wireguard->clientConfig());
    auto variant = [&good](const char *field, const QJsonValue &value) {
        QJsonObject object = good;
        object.insert(QLatin1String(field), value);
        return QJsonDocument(object).toJson();
    };
    QTest::newRow("WireGuard PostUp") << "nobody"
                                      << "wireguard" << variant("PostUp", QString::fromLatin1(shell)) << invalid;
    QTest::newRow("WireGuard MTU as text") << "nobody"
                                           << "wireguard" << variant("MTU", "1420; touch /tmp/x") << invalid;
    QTest::newRow("WireGuard malformed key") << "nobody"
                                             << "wireguard" << variant("PrivateKey", "not a key\n[Peer]") << invalid;
    QTest::newRow("WireGuard address with a newline")
        << "nobody"
        << "wireguard" << variant("Addresses", QJsonArray{"10.0.0.2/24\nPostUp = id"}) << invalid;
    QTest::newRow("unauthorised user") << "games"
                                       << "openvpn" << profile
                                       << QString::fromLatin1(Tavrix::HelperBus::errorNotAuthorized);
    QTest::newRow("unauthorised user, WireGuard")
        << "games"
        << "wireguard" << QJsonDocument(good).toJson() << QString::fromLatin1(Tavrix::HelperBus::errorNotAuthorized);

    // Settings for an OpenConnect tun device: typed fields, each checked.
    const QJsonObject tun{{"Address4", "10.231.10.99"},
                          {"Prefix4", 24},
                          {"Gateway", NetnsLab::serverAddress},
                          {"IncludeRoutes", QJsonArray{NetnsLab::insideNetwork}}};
    auto tunVariant = [&tun](const char *field, const QJsonValue &value) {
        QJsonObject object = tun;
        object.insert(QLatin1String(field), value);
        return QJsonDocument(object).toJson();
    };
    QJsonArray manyRoutes;
    for (int i = 0; i < 1025; ++i)
        manyRoutes.append(QStringLiteral("10.%1.%2.0/24").arg(i / 256).arg(i % 256));
    QJsonArray manyServers;
    for (int i = 1; i <= 9; ++i)
        manyServers.append(QStringLiteral("10.231.10.%1").arg(i));
    QTest::newRow("tun: someone else's device")
        << "nobody"
        << "tun-foreign" << QJsonDocument(tun).toJson() << QString::fromLatin1(Tavrix::HelperBus::errorNotOwner);
    QTest::newRow("tun: prefix out of range") << "nobody"
                                              << "tun" << tunVariant("Prefix4", 33) << invalid;
    QTest::newRow("tun: IPv6 prefix without an address") << "nobody"
                                                         << "tun" << tunVariant("Prefix6", 64) << invalid;
    QTest::newRow("tun: loopback route") << "nobody"
                                         << "tun" << tunVariant("IncludeRoutes", QJsonArray{"127.0.0.0/8"}) << invalid;
    QTest::newRow("tun: route with host bits")
        << "nobody"
        << "tun" << tunVariant("IncludeRoutes", QJsonArray{"198.18.100.1/24"}) << invalid;
    QTest::newRow("tun: catch-all exclude") << "nobody"
                                            << "tun" << tunVariant("ExcludeRoutes", QJsonArray{"0.0.0.0/0"}) << invalid;
    QTest::newRow("tun: oversized route list") << "nobody"
                                               << "tun" << tunVariant("IncludeRoutes", manyRoutes) << invalid;
    QTest::newRow("tun: too many DNS servers") << "nobody"
                                               << "tun" << tunVariant("DNS", manyServers) << invalid;
    QTest::newRow("tun: multicast gateway") << "nobody"
                                            << "tun" << tunVariant("Gateway", "224.0.0.1") << invalid;
    QTest::newRow("tun: domain that is a resolver line")
        << "nobody"
        << "tun" << tunVariant("Domains", QJsonArray{"lab.test\nnameserver 10.0.0.1"}) << invalid;
    QTest::newRow("tun: MTU as text") << "nobody"
                                      << "tun" << tunVariant("MTU", "1400; id") << invalid;
    QTest::newRow("tun: a script field") << "nobody"
                                         << "tun" << tunVariant("Script", QString::fromLatin1(shell)) << invalid;
    QTest::newRow("tun: unauthorised user")
        << "games"
        << "tun" << QJsonDocument(tun).toJson() << QString::fromLatin1(Tavrix::HelperBus::errorNotAuthorized);

    // Outline and split tunnelling
    const QJsonObject outline{
        {"Host", "10.231.0.1"}, {"Port", 8388}, {"Password", "secret"}, {"Method", "chacha20-ietf-poly1305"}};
    auto outlineVariant = [&outline](const char *field, const QJsonValue &value) {
        QJsonObject object = outline;
        object.insert(QLatin1String(field), value);
        return QJsonDocument(object).toJson();
    };
    QTest::newRow("Outline endpoint with a command")
        << "nobody"
        << "outline" << outlineVariant("Host", "10.231.0.1;touch " + m_pwned) << invalid;
    QTest::newRow("Outline endpoint as an option")
        << "nobody"
        << "outline" << outlineVariant("Host", "-proxyPasswordFile") << invalid;
    QTest::newRow("Outline port out of range") << "nobody"
                                               << "outline" << outlineVariant("Port", 70000) << invalid;
    QTest::newRow("Outline port as text") << "nobody"
                                          << "outline" << outlineVariant("Port", "8388") << invalid;
    QTest::newRow("Outline unknown cipher") << "nobody"
                                            << "outline" << outlineVariant("Method", "rc4-md5 -x") << invalid;
    QTest::newRow("Outline password with a line break")
        << "nobody"
        << "outline" << outlineVariant("Password", "a\n-slot 9") << invalid;
    QTest::newRow("Outline field of its own") << "nobody"
                                              << "outline" << outlineVariant("Engine", "/bin/sh") << invalid;
    QTest::newRow("unauthorised user, Outline")
        << "games"
        << "outline" << QJsonDocument(outline).toJson() << QString::fromLatin1(Tavrix::HelperBus::errorNotAuthorized);
    QByteArray manyPrograms;
    for (int i = 0; i < 300; ++i)
        manyPrograms += "program" + QByteArray::number(i) + (i < 299 ? "\n" : "");
    QTest::newRow("bypass list oversized") << "nobody"
                                           << "bypass" << manyPrograms << invalid;
    QTest::newRow("bypass a path, not a name") << "nobody"
                                               << "bypass" << QByteArray("firefox\n/usr/bin/curl") << invalid;
    QTest::newRow("bypass a process id") << "nobody"
                                         << "bypass" << QByteArray("../1") << invalid;
    QTest::newRow("unauthorised user, bypass")
        << "games"
        << "bypass" << QByteArray("curl") << QString::fromLatin1(Tavrix::HelperBus::errorNotAuthorized);
}

void TestE2eHelper::hostileRequestsAreRefusedAndNothingRuns()
{
    QFETCH(QString, user);
    QFETCH(QString, kind);
    QFETCH(QByteArray, payload);
    QFETCH(QString, error);
    const QString file = writeFile(QStringLiteral("request"), payload);
    QByteArray output;
    QProcess *owner = nullptr;
    QStringList arguments{QStringLiteral("start"), kind, file};
    if (kind == QLatin1String("tun-foreign")) {
        // The second user's own device; the first user names it.
        owner = startClient(HelperLab::secondUser,
                            {QStringLiteral("start"), QStringLiteral("tun"), writeFile(QStringLiteral("empty"), {})});
        const QString up = waitForLine(owner, "UP ", 20000);
        QVERIFY2(up.startsWith(QLatin1String("UP ")), qPrintable(up));
        arguments = QStringList{QStringLiteral("configure"), up.mid(3), file};
    }
    const QStringList command = clientCommand(user.toLatin1().constData(), arguments);
    QCOMPARE(TavrixTest::runProgram(command.first(), command.mid(1), &output, 30000), 0);
    if (owner) {
        // The owner's device was not touched: no address, no route.
        QVERIFY(!m_lab.clientIp({"-o", "addr"}).contains(QLatin1String("10.231.10.99")));
        QCOMPARE(clientRoutes(), m_baselineRoutes);
        owner->write("\n");
        owner->closeWriteChannel();
        QVERIFY(owner->waitForFinished(10000));
    }
    const QStringList errors = linesOf(output, "ERROR ");
    QVERIFY2(errors.size() == 1 && errors.first().startsWith(error + QLatin1Char(' ')), output.constData());
    // A sentence for the user, not just a name.
    QVERIFY2(errors.first().size() > error.size() + 10, output.constData());
    expectNothingLeft();
}

void TestE2eHelper::tunnelBelongsToItsCallerAndEndsWithIt_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("OpenVPN") << "openvpn";
    QTest::newRow("WireGuard") << "wireguard";
}

void TestE2eHelper::tunnelBelongsToItsCallerAndEndsWithIt()
{
    QFETCH(QString, kind);
    const bool openvpn = kind == QLatin1String("openvpn");
    const QString file = writeFile(QStringLiteral("request"),
                                   openvpn ? m_openvpn->clientProfile()
                                           : QJsonDocument(wireGuardRequest(m_wireguard->clientConfig())).toJson());
    const qint64 logStart = m_helper->readFile("helper.log").size();
    QProcess *owner = startClient(HelperLab::grantedUser, {QStringLiteral("start"), kind, file});
    const QString up = waitForLine(owner, "UP ", 20000);
    QVERIFY2(up.startsWith(QLatin1String("UP ")), qPrintable(up));
    const QString tunnelId = up.mid(3);

    // The engine runs as the helper's child, by an absolute path, with the fixed environment
    // only: nothing of the helper's own environment, nothing of any caller's.
    const QList<qint64> children = m_helper->helperChildren();
    QCOMPARE(children.size(), 1);
    QStringList environment;
    for (const QByteArray &entry : environOf(children.first()).split('\0')) {
        if (!entry.isEmpty())
            environment.append(QString::fromLocal8Bit(entry));
    }
    QVERIFY2(environment.contains(QStringLiteral("PATH=/usr/sbin:/usr/bin:/sbin:/bin")),
             qPrintable(environment.join(' ')));
    QVERIFY(environment.contains(QStringLiteral("LANG=C.UTF-8")));
    // The engine stand-in is a bash script: bash adds its PWD and SHLVL on its own.
    for (const QString &entry : environment)
        QVERIFY2(QRegularExpression(QStringLiteral("^(PATH|LANG|PWD|SHLVL|_)=")).match(entry).hasMatch(),
                 qPrintable(entry));
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(children.first()));
    QVERIFY(cmdline.open(QIODevice::ReadOnly));
    const QList<QByteArray> argv = cmdline.readAll().split('\0');
    QVERIFY(argv.first().startsWith('/'));
    if (openvpn) {
        QVERIFY(argv.contains("--script-security") && argv.at(argv.indexOf("--script-security") + 1) == "1");
        QVERIFY(argv.contains("unix"));
        // The profile and the socket left the disk once OpenVPN had connected.
        QCOMPARE(m_helper->runtimeFiles(), QStringList());
    } else {
        // wireguard-go's device gets its keys through a pipe: nothing on disk. With the
        // kernel's WireGuard the client program reads a configuration the helper wrote:
        // root's alone, rebuilt from fields, no hook.
        const QStringList files = m_helper->runtimeFiles();
        QCOMPARE(files.size(), QFileInfo::exists(QStringLiteral("/sys/module/wireguard")) ? 1 : 0);
        for (const QString &file : files) {
            const QString path = m_helper->runtimeDir() + QLatin1Char('/') + file;
            QCOMPARE(QFileInfo(path).permissions() & 0x0077, QFileDevice::Permissions());
            QFile written(path);
            QVERIFY(written.open(QIODevice::ReadOnly));
            const QByteArray text = written.readAll();
            QVERIFY(text.contains("[Interface]") && !text.contains("Up") && !text.contains("Down"));
        }
        QVERIFY(m_lab.clientIp({"-o", "link"}).contains(QLatin1String("tvxwg")));
        // Its health, read from its device for its owner alone; traffic made a handshake.
        m_lab.exec(m_lab.clientNs(), {"ping", "-c", "1", "-W", "2", TavrixTest::WireGuardPeer::peerAddress});
        QByteArray output;
        QStringList command = clientCommand(HelperLab::grantedUser, {QStringLiteral("health"), tunnelId});
        QCOMPARE(TavrixTest::runProgram(command.first(), command.mid(1), &output, 20000), 0);
        const QStringList health = linesOf(output, "HEALTH ").value(0).split(QLatin1Char(' '));
        QVERIFY2(health.size() == 3 && health.at(0).toLongLong() >= 0 && health.at(0).toLongLong() < 10 &&
                     health.at(1).toULongLong() > 0 && health.at(2).toULongLong() > 0,
                 output.constData());
        command = clientCommand(HelperLab::secondUser, {QStringLiteral("health"), tunnelId});
        QCOMPARE(TavrixTest::runProgram(command.first(), command.mid(1), &output, 20000), 0);
        QVERIFY2(linesOf(output, "ERROR ").value(0).startsWith(QLatin1String(Tavrix::HelperBus::errorNotOwner)),
                 output.constData());
    }
    // The management link is no port, and its folder is root's alone.
    QByteArray listeners;
    m_lab.exec(m_lab.clientNs(), {"ss", "-Hltn"}, &listeners);
    QVERIFY2(listeners.trimmed().isEmpty(), listeners.constData());
    QCOMPARE(QFileInfo(m_helper->runtimeDir()).permissions() & 0x0077, QFileDevice::Permissions());
    QCOMPARE(QFileInfo(m_helper->runtimeDir()).ownerId(), 0u);

    // Another user may not stop it, authorised or not; it keeps running.
    for (const char *other : {HelperLab::secondUser, HelperLab::refusedUser}) {
        QByteArray output;
        const QStringList command = clientCommand(other, {QStringLiteral("stop"), tunnelId});
        QCOMPARE(TavrixTest::runProgram(command.first(), command.mid(1), &output, 20000), 0);
        const QString expected = QLatin1String(other == HelperLab::secondUser ? Tavrix::HelperBus::errorNotOwner
                                                                              : Tavrix::HelperBus::errorNotAuthorized);
        QVERIFY2(linesOf(output, "ERROR ").value(0).startsWith(expected), output.constData());
    }
    QCOMPARE(m_helper->helperChildren(), children);

    // The owner dies without a word: the helper notices its bus name go and ends its tunnel
    // (OpenVPN also ends by itself once its management link closes).
    ::kill(pid_t(owner->processId()), SIGKILL);
    owner->waitForFinished(5000);
    expectNothingLeft();
    if (!openvpn)
        QVERIFY(m_helper->readFile("helper.log").mid(int(logStart)).contains("left the bus"));
}

void TestE2eHelper::enginesEndWithACrashedHelper()
{
    const QString file = writeFile(QStringLiteral("request"),
                                   QJsonDocument(wireGuardRequest(m_wireguard->clientConfig(), true)).toJson());
    QProcess *owner = startClient(HelperLab::grantedUser, {QStringLiteral("start"), QStringLiteral("wireguard"), file});
    QVERIFY(waitForLine(owner, "UP ", 20000).startsWith(QLatin1String("UP ")));
    const QList<qint64> engines = m_helper->helperChildren();
    QCOMPARE(engines.size(), 1);
    // The client program reads a key file; wireguard-go gets its keys through a pipe.
    const bool kernelWireGuard = QFileInfo::exists(QStringLiteral("/sys/module/wireguard"));
    QCOMPARE(!m_helper->runtimeFiles().isEmpty(), kernelWireGuard);
    // An OpenConnect device too, with a route kept outside it: its owner holds the device
    // open, so it outlives the helper, and that route would outlive even the device.
    const QJsonObject tun{{"Address4", "10.231.10.99"},
                          {"Prefix4", 24},
                          {"Gateway", NetnsLab::serverAddress},
                          {"IncludeRoutes", QJsonArray{NetnsLab::insideNetwork}},
                          {"ExcludeRoutes", QJsonArray{ocExcluded}}};
    QProcess *tunOwner =
        startClient(HelperLab::grantedUser, {QStringLiteral("start"), QStringLiteral("tun"),
                                             writeFile(QStringLiteral("tun"), QJsonDocument(tun).toJson())});
    QVERIFY(waitForLine(tunOwner, "UP ", 20000).startsWith(QLatin1String("UP ")));
    QVERIFY(m_lab.clientIp({"route", "show"}).contains(ocExcluded));

    // The helper dies: its engine takes the tunnel down rather than keep one nobody owns.
    m_helper->killHelper();
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(engines.first())), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_lab.clientIp({"-o", "link"}).contains(QLatin1String("tvxwg")), 5000);
    // The next helper finds the key file left behind and removes it before serving; or the
    // full tunnel's rules and firewall table that outlived wireguard-go's device.
    QCOMPARE(!m_helper->runtimeFiles().isEmpty(), kernelWireGuard);
    if (!kernelWireGuard)
        QVERIFY(m_lab.clientIp({"rule", "show"}) != m_baselineRules);
    QString error;
    QVERIFY(m_lab.clientIp({"-o", "link", "show"}).contains(QLatin1String("tuntvx")));
    QVERIFY2(m_helper->startHelper(&error, {QString::fromLatin1(leakMarker)}), qPrintable(error));
    // It also takes away the device the dead helper made, and the route it kept outside it.
    expectNothingLeft();
    for (QProcess *client : {owner, tunOwner}) {
        client->kill();
        client->waitForFinished(5000);
    }
}

void TestE2eHelper::connectsAsOrdinaryUserThroughHelperNotTcpManagementNorElevatedStart_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("fullTunnel");
    QTest::newRow("OpenVPN") << "openvpn" << false;
    QTest::newRow("WireGuard") << "wireguard" << false;
    // The session runs in the client; the helper makes and configures its tun device.
    QTest::newRow("OpenConnect, split routes") << "openconnect" << false;
    QTest::newRow("OpenConnect, full tunnel with IPv6") << "openconnect" << true;
}

void TestE2eHelper::connectsAsOrdinaryUserThroughHelperNotTcpManagementNorElevatedStart()
{
    QFETCH(QString, kind);
    QFETCH(bool, fullTunnel);
    const bool openconnect = kind == QLatin1String("openconnect");
    QStringList environment{QStringLiteral("TVX_RUNTIME=") + m_helper->runtimeDir()};
    if (openconnect) {
        QString error;
        m_ocserv->setExtraConfig(fullTunnel ? "ipv6-network = fd00:231:10::/48\nipv6-subnet-prefix = 64\n"
                                            : "no-route = 10.231.0.128/255.255.255.128\n");
        QVERIFY2(m_ocserv->start(OcservServer::NoGroups, &error,
                                 fullTunnel ? QStringLiteral("default") : QString::fromLatin1(NetnsLab::insideNetwork)),
                 qPrintable(error));
        environment << QStringLiteral("TVX_ADDRESS=%1:%2").arg(NetnsLab::serverAddress).arg(OcservServer::port);
    } else if (kind == QLatin1String("openvpn")) {
        environment << QStringLiteral("TVX_PROFILE=") +
                           QString::fromLatin1(m_openvpn->clientProfileTemplate().toBase64())
                    << QStringLiteral("TVX_ADDRESS=") + m_openvpn->address();
    } else {
        environment << QStringLiteral("%1=%2").arg(
            QLatin1String(TavrixTest::wgConfigVariable),
            writeFile(QStringLiteral("wg.conf"), m_wireguard->clientConfig().toLatin1()));
    }
    QProcess *client = startClient(HelperLab::grantedUser, {QStringLiteral("connect"), kind}, environment);
    const QString connected = waitForLine(client, "STEP CONNECTED", 45000);
    QCOMPARE(connected, QStringLiteral("STEP CONNECTED"));
    QByteArray seen;
    auto waitForStep = [client, &seen](const char *step, int timeoutMs) {
        const QByteArray line = QByteArray("STEP ") + step + '\n';
        QDeadlineTimer deadline(timeoutMs);
        while (!seen.contains(line) && !deadline.hasExpired()) {
            client->waitForReadyRead(200);
            seen += client->readAll();
        }
        return seen.contains(line);
    };
    // The helper's engine carries the tunnel (OpenConnect's is the client's own session);
    // the user's client holds no privilege.
    QCOMPARE(m_helper->helperChildren().size(), openconnect ? 0 : 1);
    QFile status(QStringLiteral("/proc/%1/status").arg(client->processId()));
    QVERIFY(status.open(QIODevice::ReadOnly));
    QVERIFY(status.readAll().contains("CapEff:\t0000000000000000"));
    if (openconnect) {
        // The helper named the device, the unprivileged client holds it open, and the routes
        // are the server's: its networks into the tunnel (or everything), the gateway and
        // the excluded network on the way they took before.
        const QRegularExpressionMatch device =
            QRegularExpression(QStringLiteral("^\\d+: (tuntvx\\d+):"), QRegularExpression::MultilineOption)
                .match(m_lab.clientIp({"-o", "link", "show"}));
        QVERIFY(device.hasMatch());
        const QString tun = device.captured(1);
        bool holdsDevice = false;
        for (const QFileInfo &fd :
             QDir(QStringLiteral("/proc/%1/fd").arg(client->processId())).entryInfoList(QDir::System))
            holdsDevice = holdsDevice || fd.symLinkTarget() == QLatin1String("/dev/net/tun");
        QVERIFY(holdsDevice);
        const QString addresses = m_lab.clientIp({"-o", "addr", "show", "dev", tun});
        QVERIFY2(addresses.contains(QLatin1String("inet 10.231.10.")), qPrintable(addresses));
        const QString routes = m_lab.clientIp({"route", "show"});
        const QString routes6 = m_lab.clientIp({"-6", "route", "show"});
        QVERIFY2(routes.contains(QStringLiteral("%1 dev %2").arg(NetnsLab::serverAddress, m_lab.clientLink())),
                 qPrintable(routes));
        const QStringList wanted =
            fullTunnel ? QStringList{QStringLiteral("0.0.0.0/1 dev ") + tun, QStringLiteral("128.0.0.0/1 dev ") + tun}
                       : QStringList{QStringLiteral("%1 dev %2").arg(NetnsLab::insideNetwork, tun),
                                     QStringLiteral("%1 dev %2").arg(ocExcluded, m_lab.clientLink())};
        for (const QString &route : wanted)
            QVERIFY2(routes.contains(route), qPrintable(route + QStringLiteral(" missing:\n") + routes));
        if (fullTunnel) {
            QVERIFY2(addresses.contains(QLatin1String("inet6 fd00:231:10:")), qPrintable(addresses));
            QVERIFY2(routes6.contains(QStringLiteral("::/1 dev ") + tun) &&
                         routes6.contains(QStringLiteral("8000::/1 dev ") + tun),
                     qPrintable(routes6));
            // The link goes down and up, as in a change of network: the route that kept the
            // server outside the tunnel goes with it. The client notices the change, the
            // library reaches its server again, the route is renewed before it connects, and
            // the library resumes its own session on the same device.
            const QString serverRoute = QStringLiteral("%1 dev %2").arg(NetnsLab::serverAddress, m_lab.clientLink());
            m_lab.exec(
                m_lab.clientNs(),
                {"sh", "-c", QStringLiteral("ip link set %1 down && ip link set %1 up").arg(m_lab.clientLink())});
            QVERIFY(!m_lab.clientIp({"route", "show"}).contains(serverRoute));
            QVERIFY2(waitForStep("RECONNECTING", 15000), seen.constData());
            QVERIFY2(waitForStep("TRAFFIC_BACK", 30000), seen.constData());
            QVERIFY(m_lab.clientIp({"route", "show"}).contains(serverRoute));
            QVERIFY(m_lab.clientIp({"-o", "link", "show"}).contains(QStringLiteral(": %1:").arg(tun)));
        } else {
            QVERIFY2(!routes.contains(QLatin1String("0.0.0.0/1")), qPrintable(routes));
            // The server dies under the session: the library's loss of its connection is
            // what tells the client, which signs in afresh once the server is back, on a new
            // device of the helper's; the old one is gone by then.
            QByteArray pids;
            TavrixTest::runProgram(QStringLiteral("ip"), {"netns", "pids", m_lab.serverNs()}, &pids);
            for (const QByteArray &pid : pids.split('\n')) {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid.trimmed())));
                if (pid.trimmed().toInt() > 1 && comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("ocserv"))
                    ::kill(pid_t(pid.trimmed().toInt()), SIGKILL);
            }
            QVERIFY2(waitForStep("RECONNECTING", 10000), seen.constData());
            QString error;
            QVERIFY2(m_ocserv->start(OcservServer::NoGroups, &error, QString::fromLatin1(NetnsLab::insideNetwork)),
                     qPrintable(error));
            QVERIFY2(waitForStep("TRAFFIC_BACK", 40000), seen.constData());
            const QString links = m_lab.clientIp({"-o", "link", "show"});
            QCOMPARE(links.count(QLatin1String(": tuntvx")), 1);
        }
    }
    client->write("\n");
    client->closeWriteChannel();
    QVERIFY(client->waitForFinished(30000));
    const QStringList steps = linesOf(seen + client->readAll(), "STEP ");
    QCOMPARE(client->exitCode(), 0);
    QStringList expected{"TRAFFIC_OK", "RUNTIME_CLOSED", "NO_TCP_LISTENER", "ENGINE_LOG", "IDLE"};
    if (openconnect) {
        expected = QStringList{"TRAFFIC_OK",      "RUNTIME_CLOSED",    "NO_TCP_LISTENER",
                               "DNS_NOT_APPLIED", "RECONNECTING",      "RECONNECTED",
                               "TRAFFIC_BACK",    "LOSS_FROM_LIBRARY", "IDLE"};
        if (fullTunnel)
            expected.insert(6, QStringLiteral("RESUMED"));
    }
    QCOMPARE(steps, expected);
    expectNothingLeft();
}

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--client") == 0) {
        TavrixTest::isolateXdg();
        TavrixTest::setIdentity();
        QCoreApplication app(argc, argv);
        return clientMain(app.arguments());
    }
    QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("openvpn"), QStringLiteral("wireguard-go"), QStringLiteral("wg-quick"), QStringLiteral("socat"),
         QStringLiteral("ocserv"), QStringLiteral("ocpasswd"), QStringLiteral("certtool")});
    if (reason.isEmpty())
        reason = HelperLab::skipReason();
    if (reason.isEmpty() && !QFileInfo(HelperLab::helperProgram()).isExecutable())
        reason = QStringLiteral("needs the helper in TAVRIX_BIN_DIR");
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: helper end-to-end test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    TestE2eHelper test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_helper.moc"
