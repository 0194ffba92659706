// The Xray runners without a server: the document the Shadowsocks runner generates, the
// files it writes, and how every failed start ends (proxy off, one `disconnected`).

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include "common/ipbundle.h"
#include "common/user.h"
#include "log/logger.h"
#include "platform/paths.h"
#include "platform/systemproxy.h"
#include "testmain.h"
#include "vpn/v2ray.h"
#include "vpn/xrayengine.h"
#include "vpn/xrayshadosocks.h"

using namespace Tavrix;

namespace {

const QString secret = QStringLiteral("s3cret-Pa55");

// The value at a path like "outbounds/0/settings/servers/0/port"; undefined when missing.
QJsonValue valueAt(const QJsonValue &root, const QString &path)
{
    QJsonValue value = root;
    for (const QString &step : path.split(QLatin1Char('/'))) {
        bool index = false;
        const int at = step.toInt(&index);
        if (index && value.isArray() && at < value.toArray().size())
            value = value.toArray().at(at);
        else if (!index && value.isObject() && value.toObject().contains(step))
            value = value.toObject().value(step);
        else
            return QJsonValue(QJsonValue::Undefined);
    }
    return value;
}

QString logSince(int sequence)
{
    QString text;
    for (const Logger::Message &message : Logger::instance()->messagesSince(sequence))
        text += message.text + QLatin1Char('\n');
    return text;
}

void selectServer(int type, const QString &ip, const QString &config)
{
    User::instance()->setBundles({IPBundle::fromJson(
        QJsonObject{{"ip_id", 1}, {"type", type}, {"ip", ip}, {"config", config}, {"platform", "all"}})});
}

QJsonObject readConfigFile()
{
    QFile file(Xray::configPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

class TestXray : public QObject
{
    Q_OBJECT

private slots:
    void generatedDocument_data();
    void generatedDocument();
    void generatedDocumentHasNothingElse();
    void engineAcceptsGeneratedDocument();
    void shadowsocksFailedStart_data();
    void shadowsocksFailedStart();
    void v2rayFailedStart_data();
    void v2rayFailedStart();
    void desktopProxyOfTheUserComesBack_data();
    void desktopProxyOfTheUserComesBack();
    void staleProxyIsSwitchedOffAtStart();
};

void TestXray::generatedDocument_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QJsonValue>("expected");
    const auto row = [](const char *path, const QJsonValue &value) { QTest::newRow(path) << path << value; };
    row("outbounds/0/protocol", "shadowsocks");
    row("outbounds/0/settings/servers/0/address", "203.0.113.7");
    row("outbounds/0/settings/servers/0/port", 8388);
    row("outbounds/0/settings/servers/0/method", "chacha20-ietf-poly1305");
    row("outbounds/0/settings/servers/0/password", secret);
    row("outbounds/0/tag", "proxy");
    row("outbounds/1/protocol", "freedom");
    row("outbounds/1/settings", QJsonObject());
    row("outbounds/1/tag", "direct");
    row("outbounds/2/protocol", "blackhole");
    row("outbounds/2/settings", QJsonObject());
    row("outbounds/2/tag", "block");
    row("inbounds/0/port", 10808);
    row("inbounds/0/listen", "127.0.0.1");
    row("inbounds/0/protocol", "socks");
    row("inbounds/0/settings/auth", "noauth");
    row("inbounds/0/settings/udp", true);
    row("inbounds/0/tag", "socks");
    row("inbounds/1/port", 10809);
    row("inbounds/1/listen", "127.0.0.1");
    row("inbounds/1/protocol", "http");
    row("inbounds/1/settings", QJsonObject());
    row("inbounds/1/tag", "http");
    row("routing/domainStrategy", "IPIfNonMatch");
    row("routing/rules/0/outboundTag", "proxy");
    row("routing/rules/1/ip", QJsonArray{"geoip:private"});
    row("routing/rules/1/outboundTag", "direct");
    row("routing/rules/2/ip", QJsonArray{"geoip:cn"});
    row("routing/rules/2/outboundTag", "direct");
    row("routing/rules/3/domain", QJsonArray{"geosite:cn"});
    row("routing/rules/3/outboundTag", "direct");
    row("routing/rules/4/domain", QJsonArray{"geosite:geolocation-cn"});
    row("routing/rules/4/outboundTag", "direct");
    row("routing/rules/5/outboundTag", "proxy");
    row("routing/rules/5/port", "0-65535");
    row("log/loglevel", "warning");
}

// Compared as written to the file: types count ("port" a number, the catch-all "port" a text).
void TestXray::generatedDocument()
{
    QFETCH(QString, path);
    QFETCH(QJsonValue, expected);
    XrayShadosocks runner;
    runner.createConfigFile(QStringLiteral("203.0.113.7"), 8388, secret, QStringLiteral("chacha20-ietf-poly1305"));
    const QJsonValue actual = valueAt(readConfigFile(), path);
    QCOMPARE(actual.type(), expected.type());
    QCOMPARE(actual, expected);
}

void TestXray::generatedDocumentHasNothingElse()
{
    XrayShadosocks runner;
    runner.createConfigFile(QStringLiteral("203.0.113.7"), 8388, secret, QStringLiteral("aes-256-gcm"));
    QFile file(Xray::configPath());
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(file.permissions() & others, QFileDevice::Permissions());
    QVERIFY(file.permissions() & QFileDevice::ReadOwner && file.permissions() & QFileDevice::WriteOwner);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY2(bytes.contains("\n    \""), "not the indented format");
    const QJsonObject document = QJsonDocument::fromJson(bytes).object();
    QCOMPARE(document.keys(), (QStringList{"inbounds", "log", "outbounds", "routing"}));

    const QJsonArray rules = document.value("routing").toObject().value("rules").toArray();
    QCOMPARE(rules.size(), 6);
    const QList<QStringList> members = {{"domain", "outboundTag"}, {"ip", "outboundTag"},     {"ip", "outboundTag"},
                                        {"domain", "outboundTag"}, {"domain", "outboundTag"}, {"outboundTag", "port"}};
    for (int i = 0; i < rules.size(); ++i)
        QCOMPARE(rules.at(i).toObject().keys(), members.at(i));
    const QJsonArray domains = rules.at(0).toObject().value("domain").toArray();
    QCOMPARE(domains.size(), 2);
    for (const QJsonValue &domain : domains)
        QVERIFY(domain.toString().startsWith("domain:"));
    QVERIFY(domains.at(0).toString().endsWith(".cn"));
    QCOMPARE(document.value("outbounds").toArray().size(), 3);
    QCOMPARE(document.value("inbounds").toArray().size(), 2);
}

// The real engine with the geo data the build made: every code the rules name must exist.
void TestXray::engineAcceptsGeneratedDocument()
{
    if (QStandardPaths::findExecutable("xray").isEmpty() && QStandardPaths::findExecutable("v2ray").isEmpty())
        QSKIP("needs xray or v2ray");
    XrayShadosocks runner;
    runner.createConfigFile(QStringLiteral("203.0.113.7"), 8388, secret, QStringLiteral("chacha20-ietf-poly1305"));
    QProcess engine;
    engine.setProcessChannelMode(QProcess::MergedChannels);
    engine.start(qEnvironmentVariable("TAVRIX_BIN_DIR") + "/Xray/xray", {"-test", "-c", Xray::configPath()});
    QVERIFY(engine.waitForFinished(20000));
    const QString output = QString::fromLocal8Bit(engine.readAll());
    QVERIFY2(engine.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains("Configuration OK"), qPrintable(output));
}

void TestXray::shadowsocksFailedStart_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    QTest::newRow("host and port") << "203.0.113.7:8388"
                                   << "203.0.113.7" << 8388;
    QTest::newRow("ip without ':'") << "203.0.113.7"
                                    << "203.0.113.7" << 0;
    QTest::newRow("only a number") << "8388"
                                   << "8388" << 8388;
    QTest::newRow("port not a number") << "203.0.113.7:x"
                                       << "203.0.113.7" << 0;
}

// This test program has no engine beside it: the start fails after the document is written.
// The proxy, on from an earlier connection, ends off; the password never reaches the log.
void TestXray::shadowsocksFailedStart()
{
    QFETCH(QString, ip);
    QFETCH(QString, address);
    QFETCH(int, port);
    selectServer(4, ip, QStringLiteral("{\"method\":\"aes-256-gcm\",\"password\":\"%1\"}").arg(secret));
    QVERIFY(SystemProxy::enable(Xray::proxyServer()));
    const int sequence = Logger::instance()->lastSequence();

    XrayShadosocks runner;
    QSignalSpy connected(&runner, &XrayShadosocks::connected);
    QSignalSpy disconnected(&runner, &XrayShadosocks::disconnected);
    QVERIFY(!runner.conntShadosocksServer());
    QCOMPARE(connected.count(), 0);
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!Xray::proxyIsOurs());

    const QJsonObject server = valueAt(readConfigFile(), "outbounds/0/settings/servers/0").toObject();
    QCOMPARE(server.value("address"), QJsonValue(address));
    QCOMPARE(server.value("port"), QJsonValue(port));
    QCOMPARE(server.value("method"), QJsonValue("aes-256-gcm"));
    // The document holds the server's password: only the user may read it.
    QCOMPARE(QFileInfo(Xray::configPath()).permissions() &
                 (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup | QFileDevice::WriteOther),
             QFileDevice::Permissions());
    const QString log = logSince(sequence);
    QVERIFY2(log.contains("Failed to start the process."), qPrintable(log));
    QVERIFY2(log.contains("System proxy off"), qPrintable(log));
    QVERIFY(!log.contains(secret));

    // A stop afterwards still answers once and leaves the proxy off.
    runner.disconnectServer();
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!Xray::proxyIsOurs());
}

void TestXray::v2rayFailedStart_data()
{
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("logged");
    QTest::newRow("config is a JSON array") << "[{\"outbounds\":[]}]"
                                            << "Invalid JSON configuration.";
    QTest::newRow("config is not JSON") << "outbounds: vmess"
                                        << "Invalid JSON configuration.";
    QTest::newRow("engine missing") << QStringLiteral("{\"outbounds\":[{\"protocol\":\"vmess\",\"settings\":{\"vnext\":"
                                                      "[{\"users\":[{\"id\":\"%1\"}]}]}}]}")
                                           .arg(secret)
                                    << "Failed to start V2Ray process.";
}

void TestXray::v2rayFailedStart()
{
    QFETCH(QString, config);
    QFETCH(QString, logged);
    selectServer(6, QStringLiteral("203.0.113.9"), config);
    QVERIFY(SystemProxy::enable(Xray::proxyServer()));
    const int sequence = Logger::instance()->lastSequence();

    V2ray runner;
    QSignalSpy connected(&runner, &V2ray::connected);
    QSignalSpy disconnected(&runner, &V2ray::disconnected);
    QVERIFY(!runner.connectServer());
    QCOMPARE(connected.count(), 0);
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!Xray::proxyIsOurs());
    const QString log = logSince(sequence);
    QVERIFY2(log.contains(logged), qPrintable(log));
    QVERIFY(!log.contains(secret));
}

void TestXray::staleProxyIsSwitchedOffAtStart()
{
    QVERIFY(SystemProxy::enable(Xray::proxyServer()));
    QVERIFY(Xray::proxyIsOurs());
    const int sequence = Logger::instance()->lastSequence();
    Xray::clearStaleSystemProxy();
    QVERIFY(!Xray::proxyIsOurs());
    QVERIFY(logSince(sequence).contains("no proxy engine runs"));
    QFile record(engineFolder() + "system-proxy");
    QVERIFY(record.open(QIODevice::ReadOnly));
    QCOMPARE(record.readAll(), QByteArray("ProxyEnable=0\nProxyServer=127.0.0.1:10809\n"));
}

namespace {
// The desktop's proxy settings as gsettings prints them, in a key file of this test's own.
QByteArray desktopProxy(const QStringList &arguments)
{
    QProcess gsettings;
    gsettings.start(QStringLiteral("gsettings"), arguments);
    gsettings.waitForFinished(5000);
    return gsettings.readAllStandardOutput().trimmed();
}
QByteArray desktopProxy(const char *kind, const char *key)
{
    return desktopProxy(
        {QStringLiteral("get"), QStringLiteral("org.gnome.system.proxy") + QLatin1String(kind), QLatin1String(key)});
}
} // namespace

void TestXray::desktopProxyOfTheUserComesBack_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("crash");
    QTest::addColumn<bool>("userChangesMeanwhile");
    QTest::newRow("own proxy, put back at off") << "manual"
                                                << "proxy.corp.example" << false << false;
    QTest::newRow("no proxy, put back at off") << "none"
                                               << "" << false << false;
    QTest::newRow("own proxy, put back at the start after a crash") << "manual"
                                                                    << "proxy.corp.example" << true << false;
    QTest::newRow("changed by the user while on: kept") << "manual"
                                                        << "proxy.corp.example" << false << true;
}

void TestXray::desktopProxyOfTheUserComesBack()
{
    QFETCH(QString, mode);
    QFETCH(QString, host);
    QFETCH(bool, crash);
    QFETCH(bool, userChangesMeanwhile);
    if (QStandardPaths::findExecutable(QStringLiteral("gsettings")).isEmpty() ||
        desktopProxy({QStringLiteral("list-keys"), QStringLiteral("org.gnome.system.proxy")}).isEmpty())
        QSKIP("no GNOME proxy settings here");
    // A key file below this test's own XDG folders stands in for the desktop's settings.
    qputenv("GSETTINGS_BACKEND", "keyfile");
    const auto memory = qScopeGuard([] { qputenv("GSETTINGS_BACKEND", "memory"); });
    const QString schema = QStringLiteral("org.gnome.system.proxy");
    for (const QString &kind : {QStringLiteral(".http"), QStringLiteral(".https")}) {
        desktopProxy({"set", schema + kind, "host", host});
        desktopProxy({"set", schema + kind, "port", "3128"});
    }
    desktopProxy({"set", schema, "mode", mode});

    QVERIFY(SystemProxy::enable(Xray::proxyServer()));
    QCOMPARE(desktopProxy("", "mode"), QByteArray("'manual'"));
    QCOMPARE(desktopProxy(".https", "host"), QByteArray("'127.0.0.1'"));
    QCOMPARE(desktopProxy(".http", "port"), QByteArray("10809"));
    const QFileInfo saved(engineFolder() + QStringLiteral("system-proxy.saved"));
    QVERIFY(saved.exists());
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QVERIFY(saved.permissions() & QFileDevice::ReadOwner);
    QVERIFY(!(saved.permissions() & others));
    // A second switch-on keeps what was saved first.
    QVERIFY(SystemProxy::enable(Xray::proxyServer()));
    if (userChangesMeanwhile)
        desktopProxy({"set", schema, "mode", "auto"});

    if (crash)
        Xray::clearStaleSystemProxy();
    else
        SystemProxy::disable();
    QVERIFY(!Xray::proxyIsOurs());
    QVERIFY(!QFileInfo::exists(saved.filePath()));
    QCOMPARE(desktopProxy("", "mode"), userChangesMeanwhile ? QByteArray("'auto'") : "'" + mode.toUtf8() + "'");
    if (!userChangesMeanwhile) {
        for (const char *kind : {".http", ".https"}) {
            QCOMPARE(desktopProxy(kind, "host"), "'" + host.toUtf8() + "'");
            QCOMPARE(desktopProxy(kind, "port"), QByteArray("3128"));
        }
    }
}

TAVRIX_TEST_MAIN_CORE(TestXray)
#include "tst_xray.moc"
