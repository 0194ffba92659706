// The development service against the shapes the client reads: configuration documents,
// sign-in replies, account endpoints and the test switches, over real HTTPS on loopback.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrlQuery>

#include "common/crypto.h"
#include "common/ipbundle.h"
#include "common/user.h"
#include "devservice.h"
#include "testmain.h"

using TavrixTest::DevService;

namespace {

const QString udid64 = QString(64, QLatin1Char('a'));

QByteArray form(const QList<QPair<QString, QString>> &items, const QString &drop = {})
{
    QUrlQuery q;
    for (const auto &item : items) {
        if (item.first != drop)
            q.addQueryItem(item.first, item.second);
    }
    return q.toString(QUrl::FullyEncoded).toUtf8();
}

QList<QPair<QString, QString>> loginForm(const QString &user, const QString &password)
{
    return {{"username", user}, {"pass", password},    {"udid", udid64},     {"vpnAppVersion", "5.6.0"},
            {"brand", "Dell"},  {"osName", "windows"}, {"osVersion", "11"},  {"bundle", "Dell"},
            {"bundle2", "1"},   {"isRooted", "0"},     {"device_type", "3"}, {"app_id", "1"},
            {"player_id", "0"}};
}

QJsonObject decodeProtected(const QByteArray &body)
{
    const QString plain = Tavrix::decode(QString::fromLatin1(body), Tavrix::CodecKey::response());
    return QJsonDocument::fromJson(plain.toUtf8()).object();
}

bool inTestRange(const QString &ip)
{
    const QHostAddress host(ip.section(QLatin1Char(':'), 0, 0));
    return host.isInSubnet(QHostAddress(QStringLiteral("198.18.0.0")), 15);
}

} // namespace

class TestDevService : public QObject
{
    Q_OBJECT

private:
    DevService m_service;
    QByteArray post(const QString &path, const QByteArray &body, int *status)
    {
        const DevService::Answer a = m_service.request(path, &body);
        *status = a.status;
        return a.body;
    }
    QJsonObject signIn(const QString &user, const QString &password)
    {
        int status = 0;
        const QByteArray body = post(QStringLiteral("/api/v2/login"), form(loginForm(user, password)), &status);
        return status == 200 ? decodeProtected(body) : QJsonObject();
    }

private slots:
    void initTestCase()
    {
        if (!QFile::exists(DevService::program()))
            QSKIP("tavrix-devservice is not built");
        QVERIFY(m_service.start());
        QVERIFY(m_service.url().startsWith(QLatin1String("https://127.0.0.1:")));
        QVERIFY(QFile::exists(m_service.caFile()));
    }
    void init() { QVERIFY(m_service.reset()); }

    void configurationSource_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("key");
        const QString firestore =
            QStringLiteral("/v1/projects/tavrix-test/databases/(default)/documents/global/config");
        QTest::newRow("firestore document") << firestore << "fields";
        QTest::newRow("proxy main") << "/apis/getfirebasedata.php"
                                    << "fields";
        QTest::newRow("direct main") << "/apis/getDomainData.php"
                                     << "fields";
        QTest::newRow("firestore listing") << firestore + "/apis/"
                                           << "documents";
        QTest::newRow("proxy country") << "/api/getCountryWiseLoginData.php"
                                       << "login_url";
        QTest::newRow("direct country") << "/api/getCountryWiseLoginDataForDirectComm.php"
                                        << "login_url";
    }
    void configurationSource()
    {
        QFETCH(QString, path);
        QFETCH(QString, key);
        const DevService::Answer a = m_service.request(path);
        QCOMPARE(a.status, 200);
        const QJsonObject doc = QJsonDocument::fromJson(a.body).object();
        QVERIFY2(doc.contains(key), a.body.left(200).constData());
        if (key != QLatin1String("fields"))
            return;

        // Every endpoint of the client's table is there; the protected ones decode with the
        // endpoint key into addresses on the service itself.
        const QJsonObject fields = doc.value(QStringLiteral("fields")).toObject();
        const QStringList plainKeys = {"forgot_url", "pricing_online"};
        const QStringList protectedUrls = {"app_id",         "signup",           "loggedDevice",  "email_subs_url",
                                           "voucher_redeem", "refer_submit_v2",  "refer_refresh", "darkweb_url",
                                           "ip_check_url",   "purchase_history", "rate_us",       "wg_con_v2"};
        for (const QString &k : plainKeys)
            QVERIFY2(fields.value(k)[QStringLiteral("stringValue")].toString().startsWith(m_service.url()),
                     qPrintable(k));
        for (const QString &k : protectedUrls) {
            const QString value = fields.value(k)[QStringLiteral("stringValue")].toString();
            QVERIFY2(!value.startsWith(QLatin1String("https")), qPrintable(k));
            QVERIFY2(Tavrix::decode(value, Tavrix::CodecKey::endpoint()).startsWith(m_service.url() + "/"),
                     qPrintable(k));
        }
        const QString table = Tavrix::decode(fields.value("free_vs_paid")[QStringLiteral("stringValue")].toString(),
                                             Tavrix::CodecKey::endpoint());
        const int cells = table.split(QRegularExpression(QStringLiteral("~~|,"))).size();
        QVERIFY(cells >= 9);
        QCOMPARE(cells % 3, 0);
    }

    void countrySignInAddress()
    {
        const QJsonObject listing =
            QJsonDocument::fromJson(m_service.request(QStringLiteral("/api/getCountryWiseLoginData.php")).body)
                .object();
        QString bd;
        for (const QJsonValue &d : listing.value(QStringLiteral("documents")).toArray()) {
            if (d[QStringLiteral("name")].toString().section(QLatin1Char('/'), -1) == QLatin1String("BD"))
                bd = Tavrix::decode(
                    d[QStringLiteral("fields")][QStringLiteral("login_url")][QStringLiteral("stringValue")].toString(),
                    Tavrix::CodecKey::endpoint());
        }
        QVERIFY(bd.startsWith(m_service.url()));
        int status = 0;
        const QByteArray body =
            post(QUrl(bd).path(), form(loginForm("premium@tavrixvpn.test", "premiumpass1")), &status);
        QCOMPARE(status, 200);
        QCOMPARE(decodeProtected(body).value(QStringLiteral("response_code")).toInt(), 1);
    }

    void signInReply_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("userType");
        QTest::addColumn<int>("loyal");
        QTest::addColumn<bool>("premium");
        QTest::newRow("free") << "free@tavrixvpn.test"
                              << "freepass1" << 3 << 0 << false;
        QTest::newRow("premium") << "premium@tavrixvpn.test"
                                 << "premiumpass1" << 2 << 0 << true;
        QTest::newRow("loyal") << "loyal@tavrixvpn.test"
                               << "loyalpass1" << 2 << 1 << true;
        QTest::newRow("non-ASCII password")
            << "jose@tavrixvpn.test" << QString::fromUtf8("contraseña1") << 1 << 0 << true;
    }
    void signInReply()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, userType);
        QFETCH(int, loyal);
        QFETCH(bool, premium);

        const QJsonObject reply = signIn(user, password);
        QCOMPARE(reply.value(QStringLiteral("response_code")).toInt(), 1);
        QCOMPARE(reply.value(QStringLiteral("user_type")).toInt(), userType);
        QCOMPARE(reply.value(QStringLiteral("is_loyal_user")).toInt(), loyal);

        // The client's own model accepts it.
        Tavrix::User model;
        model.fromLoginResponse(reply);
        QCOMPARE(model.validity_date().isValid(), premium);
        QCOMPARE(model.sliderImages().size(), 3);
        QVERIFY(model.webPaymentPortalUrl().startsWith(m_service.url()));
        QVERIFY(model.cardPaymentPackages().size() >= 3);
        const QVector<Tavrix::IPBundlePtr> servers = model.bundles();
        QVERIFY2(servers.size() >= 200, qPrintable(QString::number(servers.size())));

        QSet<int> types;
        QSet<int> countries;
        QSet<QString> protocols;
        int placeholders = 0, fast = 0, gaming = 0, streaming = 0, adblock = 0, loyalty = 0;
        for (const auto &s : servers) {
            types.insert(s->type());
            countries.insert(s->countryCode());
            protocols.insert(s->transmission_protocol());
            if (s->isPlaceholderAddress())
                ++placeholders;
            else
                QVERIFY2(inTestRange(s->ip()) || s->type() == 2, qPrintable(s->ip()));
            fast += s->isFastServer();
            gaming += s->isGaming();
            streaming += s->isOnlineStream();
            adblock += s->isAdblocker();
            loyalty += s->isLoyalUserServer();
        }
        QCOMPARE(types, (QSet<int>{1, 2, 4, 5, 6}));
        QVERIFY(countries.size() >= 30);
        QVERIFY(protocols.contains("UDP") && protocols.contains("TCP"));
        QVERIFY(fast && gaming && streaming && adblock && loyalty);
        if (premium)
            QCOMPARE(placeholders, 0);
        else
            QVERIFY(placeholders > 0 && placeholders < servers.size());

        // Outline and foreign-platform entries are in the reply, for the client to drop.
        const QJsonArray raw = reply.value(QStringLiteral("ip_bundle")).toArray();
        QVERIFY(raw.size() > servers.size());
    }

    void signInRefused_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("code");
        QTest::newRow("wrong password") << "premium@tavrixvpn.test"
                                        << "premiumpass2" << 200 << 2;
        QTest::newRow("unknown account") << "nobody@tavrixvpn.test"
                                         << "whatever1" << 200 << 2;
        QTest::newRow("'+' arrives as a space") << "free@tavrixvpn.test"
                                                << "free+pass1" << 200 << 2;
        QTest::newRow("suspended") << "blocked@tavrixvpn.test"
                                   << "blockedpass1" << 403 << 0;
    }
    void signInRefused()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, status);
        QFETCH(int, code);
        int got = 0;
        // QUrlQuery leaves "+" unencoded, which a form decoder reads as a space.
        const QByteArray body = post(QStringLiteral("/api/v2/login"), form(loginForm(user, password)), &got);
        QCOMPARE(got, status);
        if (status == 200) {
            QCOMPARE(decodeProtected(body).value(QStringLiteral("response_code")).toInt(), code);
            QVERIFY(!decodeProtected(body).value(QStringLiteral("message")).toString().isEmpty());
        } else {
            QVERIFY(!QJsonDocument::fromJson(body).object().value(QStringLiteral("message")).toString().isEmpty());
        }
    }

    void missingParameter_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        const QString p = "premiumpass1", u = "premium@tavrixvpn.test", d = "0123abcd";
        auto rows = [&](const char *name, const QString &path, const QList<QPair<QString, QString>> &items) {
            for (const auto &item : items)
                QTest::newRow(qPrintable(QStringLiteral("%1 without %2").arg(QLatin1String(name), item.first)))
                    << path << form(items, item.first);
        };
        rows("login", "/api/v2/login", loginForm(u, p));
        rows("signup", "/api/v2/signup",
             {{"username", "new@tavrixvpn.test"},
              {"password", "secret12"},
              {"should_receive_promotion", "1"},
              {"timezone", "+06:00"},
              {"subscription_code", ""}});
        rows("forgot", "/api/v2/forgot-password", {{"username", u}});
        rows("newsletter", "/api/v2/newsletter", {{"email", "news@tavrixvpn.test"}});
        rows("voucher", "/api/v2/voucher/redeem",
             {{"username", u},
              {"password", p},
              {"udid", d},
              {"subscription_code", "TAVRIX-30DAYS"},
              {"noEncrypted", "1"}});
        rows("devices", "/api/v2/devices", {{"username", u}, {"pass", p}, {"udid", d}});
        rows("refer info", "/api/v2/refer/info", {{"username", u}, {"password", p}, {"udid", d}});
        rows("refer submit", "/api/v2/refer/submit",
             {{"username", u}, {"password", p}, {"udid", d}, {"referral_code", "FREE7Q2K"}});
        rows("dark web", "/api/v2/darkweb",
             {{"username", u},
              {"password", p},
              {"udid", d},
              {"request_type", "1"},
              {"requested_value", "me@tavrixvpn.test"}});
        rows("history", "/api/v2/purchase-history", {{"username", u}, {"pass", p}, {"udid", d}, {"noEncrypted", "0"}});
        rows("wireguard", "/api/v2/wireguard/config",
             {{"username", u},
              {"pass", p},
              {"udid", d},
              {"vpnserverId", "1"},
              {"ipId", "105"},
              {"connection_type", "1"}});
        // Present but invalid.
        QTest::newRow("login with a short udid")
            << "/api/v2/login" << form(loginForm(u, p)).replace(udid64.toLatin1(), "abc");
        QTest::newRow("signup with a bad offset") << "/api/v2/signup"
                                                  << form({{"username", "n@tavrixvpn.test"},
                                                           {"password", "secret12"},
                                                           {"should_receive_promotion", "1"},
                                                           {"timezone", "6"},
                                                           {"subscription_code", ""}});
        QTest::newRow("dark web with a bad address")
            << "/api/v2/darkweb"
            << form({{"username", u}, {"password", p}, {"udid", d}, {"request_type", "1"}, {"requested_value", "me@"}});
    }
    void missingParameter()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        int status = 0;
        const QByteArray reply = post(path, body, &status);
        QCOMPARE(status, 422);
        QVERIFY2(!QJsonDocument::fromJson(reply).object().value(QStringLiteral("message")).toString().isEmpty(),
                 reply.constData());
    }

    void accountCalls_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("code"); // response_code of a JSON answer; -1: not JSON
        QTest::addColumn<bool>("protectedReply");
        const QString u = "premium@tavrixvpn.test", p = "premiumpass1", d = "0123abcd";
        QTest::newRow("devices") << "/api/v2/devices" << form({{"username", u}, {"pass", p}, {"udid", d}}) << 200 << 1
                                 << true;
        QTest::newRow("devices, wrong password")
            << "/api/v2/devices" << form({{"username", u}, {"pass", "x"}, {"udid", d}}) << 403 << -1 << false;
        QTest::newRow("history") << "/api/v2/purchase-history"
                                 << form({{"username", u}, {"pass", p}, {"udid", d}, {"noEncrypted", "0"}}) << 200 << 1
                                 << true;
        QTest::newRow("voucher, plain") << "/api/v2/voucher/redeem"
                                        << form({{"username", u},
                                                 {"password", p},
                                                 {"udid", d},
                                                 {"subscription_code", "TAVRIX-30DAYS"},
                                                 {"noEncrypted", "1"}})
                                        << 200 << 1 << false;
        QTest::newRow("voucher, spent") << "/api/v2/voucher/redeem"
                                        << form({{"username", u},
                                                 {"password", p},
                                                 {"udid", d},
                                                 {"subscription_code", "TAVRIX-USED"},
                                                 {"noEncrypted", "0"}})
                                        << 200 << 2 << true;
        QTest::newRow("refer, own code")
            << "/api/v2/refer/submit"
            << form({{"username", u}, {"password", p}, {"udid", d}, {"referral_code", "PREM4X9T"}}) << 200 << 2 << true;
        QTest::newRow("refer, friend's code")
            << "/api/v2/refer/submit"
            << form({{"username", u}, {"password", p}, {"udid", d}, {"referral_code", "FREE7Q2K"}}) << 200 << 1 << true;
        QTest::newRow("forgot, unknown") << "/api/v2/forgot-password" << form({{"username", "ghost@tavrixvpn.test"}})
                                         << 422 << -1 << false;
        QTest::newRow("signup, taken") << "/api/v2/signup"
                                       << form({{"username", u},
                                                {"password", "secret12"},
                                                {"should_receive_promotion", "0"},
                                                {"timezone", "-05:00"},
                                                {"subscription_code", ""}})
                                       << 200 << 2 << false;
        QTest::newRow("newsletter") << "/api/v2/newsletter" << form({{"email", "reader@tavrixvpn.test"}}) << 200 << 1
                                    << false;
    }
    void accountCalls()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(int, code);
        QFETCH(bool, protectedReply);
        int got = 0;
        const QByteArray reply = post(path, body, &got);
        QCOMPARE(got, status);
        const QJsonObject object = protectedReply ? decodeProtected(reply) : QJsonDocument::fromJson(reply).object();
        QVERIFY2(!object.value(QStringLiteral("message")).toString().isEmpty(), reply.constData());
        if (code >= 0)
            QCOMPARE(object.value(QStringLiteral("response_code")).toInt(), code);
    }

    void wireGuardAndAddress()
    {
        // A WireGuard entry of the premium list gets a configuration for its own endpoint.
        const QJsonObject reply = signIn("premium@tavrixvpn.test", "premiumpass1");
        QJsonObject wg;
        for (const QJsonValue &v : reply.value(QStringLiteral("ip_bundle")).toArray()) {
            if (v[QStringLiteral("type")].toInt() == 5 &&
                v[QStringLiteral("platform")].toString() == QLatin1String("all")) {
                wg = v.toObject();
                break;
            }
        }
        QVERIFY(!wg.isEmpty());
        int status = 0;
        const QByteArray body = post("/api/v2/wireguard/config",
                                     form({{"username", "premium@tavrixvpn.test"},
                                           {"pass", "premiumpass1"},
                                           {"udid", "m1"},
                                           {"vpnserverId", QString::number(wg.value("vpn_server_id").toInt())},
                                           {"ipId", QString::number(wg.value("ip_id").toInt())},
                                           {"connection_type", "1"}}),
                                     &status);
        QCOMPARE(status, 200);
        const QString config = Tavrix::decode(QString::fromLatin1(body), Tavrix::CodecKey::response());
        QVERIFY2(config.startsWith(QLatin1String("[Interface]\nPrivateKey = ")), qPrintable(config));
        QVERIFY(config.contains(QStringLiteral("Endpoint = %1:51820").arg(wg.value("ip").toString())));

        const DevService::Answer ip = m_service.request(QStringLiteral("/api/ip"));
        QCOMPARE(ip.status, 200);
        QVERIFY(ip.body.contains("127.0.0.1"));
    }

    void bannerPictures()
    {
        const QJsonObject reply = signIn("free@tavrixvpn.test", "freepass1");
        const QJsonArray slides = reply[QStringLiteral("banner_data")][QStringLiteral("slider_images")].toArray();
        QVERIFY(!slides.isEmpty());
        for (const QJsonValue &slide : slides) {
            const DevService::Answer a = m_service.request(QUrl(slide[QStringLiteral("img")].toString()).path());
            QCOMPARE(a.status, 200);
            QCOMPARE(QImage::fromData(a.body, "PNG").size(), QSize(550, 100));
        }
    }

    void switches_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("statusArg");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("expectStatus"); // -2: connection ended without a reply
        QTest::addColumn<QByteArray>("expectBody");
        QTest::addColumn<int>("minMs");
        QTest::newRow("down") << "down" << 0 << 0 << -2 << QByteArray() << 0;
        QTest::newRow("empty") << "empty" << 0 << 0 << 200 << QByteArray("") << 0;
        QTest::newRow("status") << "status" << 503 << 0 << 503
                                << QByteArray("{\"message\":\"Service temporarily unavailable.\"}") << 0;
        QTest::newRow("slow") << "slow" << 0 << 700 << 200 << QByteArray() << 700;
        QTest::newRow("never") << "never" << 0 << 0 << -2 << QByteArray() << 1000;
    }
    void switches()
    {
        QFETCH(QString, mode);
        QFETCH(int, statusArg);
        QFETCH(int, delayMs);
        QFETCH(int, expectStatus);
        QFETCH(QByteArray, expectBody);
        QFETCH(int, minMs);
        const QString path = QStringLiteral("/apis/getDomainData.php");
        QVERIFY(m_service.set(path, mode, statusArg, delayMs));

        QElapsedTimer clock;
        clock.start();
        const DevService::Answer a = m_service.request(path, nullptr, 1000); // "never" is given up after 1 s
        QVERIFY2(clock.elapsed() >= minMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(a.status, expectStatus);
        if (!expectBody.isNull())
            QCOMPARE(a.body, expectBody);
        // Other paths are unaffected, and reset puts this one back.
        QCOMPARE(m_service.request(QStringLiteral("/apis/getfirebasedata.php")).status, 200);
        QVERIFY(m_service.reset());
        QCOMPARE(m_service.request(path).status, 200);
    }

    void customBody()
    {
        // A well-formed document without the key the client looks for.
        const QByteArray doc = R"({"documents":[],"note":"a+b & c"})";
        QVERIFY(m_service.setBody(QStringLiteral("/api/getCountryWiseLoginData.php"), doc, 200));
        const DevService::Answer a = m_service.request(QStringLiteral("/api/getCountryWiseLoginData.php"));
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, doc);
    }

    void malformedAndRequestLog()
    {
        QVERIFY(m_service.set(QStringLiteral("/api/v2/devices"), QStringLiteral("malformed")));
        int status = 0;
        const QByteArray body =
            post("/api/v2/devices", form({{"username", "a@b.cd"}, {"pass", "p+q"}, {"udid", "u"}}), &status);
        QCOMPARE(status, 200);
        QJsonParseError error;
        QJsonDocument::fromJson(body, &error);
        QVERIFY(error.error != QJsonParseError::NoError);

        const QJsonArray log = m_service.requests();
        QCOMPARE(log.size(), 1); // the control calls are not logged
        const QJsonObject entry = log.first().toObject();
        QCOMPARE(entry.value("method").toString(), QStringLiteral("POST"));
        QCOMPARE(entry.value("path").toString(), QStringLiteral("/api/v2/devices"));
        // The raw body shows what was sent; the form what a web server makes of it.
        QVERIFY(entry.value("body").toString().contains(QLatin1String("pass=p+q&")));
        QCOMPARE(entry[QStringLiteral("form")][QStringLiteral("pass")].toString(), QStringLiteral("p q"));
        QVERIFY(entry.value("headers").toObject().contains(QStringLiteral("Content-Type")));
    }

    void restartOptions()
    {
        // A certificate folder is reused across starts; the OpenConnect address reaches the
        // type-2 entries, and its credentials sign in as a premium account.
        QTemporaryDir dir;
        DevService first;
        QVERIFY(first.start({"--cert-dir", dir.path()}));
        QFile pem(first.caFile());
        QVERIFY(pem.open(QIODevice::ReadOnly));
        const QByteArray certificate = pem.readAll();
        first.stop();

        DevService second;
        QVERIFY(second.start({"--cert-dir", dir.path(), "--openconnect-server", "10.200.0.1:4443", "--openconnect-user",
                              "vpnuser", "--openconnect-password", "vpnpass1"}));
        QFile again(second.caFile());
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), certificate);

        const QByteArray login = form(loginForm("vpnuser", "vpnpass1"));
        const DevService::Answer a = second.request(QStringLiteral("/api/v2/login"), &login);
        QCOMPARE(a.status, 200);
        int openConnect = 0;
        for (const QJsonValue &v : decodeProtected(a.body).value(QStringLiteral("ip_bundle")).toArray()) {
            if (v[QStringLiteral("type")].toInt() == 2) {
                QCOMPARE(v[QStringLiteral("ip")].toString(), QStringLiteral("10.200.0.1:4443"));
                ++openConnect;
            }
        }
        QVERIFY(openConnect > 10);
    }

    void realProxyServers()
    {
        // The demo lab's Shadowsocks and VMess servers reach the type-4 and type-6 entries.
        DevService service;
        QVERIFY(service.start({"--openconnect-user", "vpnuser", "--openconnect-password", "vpnpass1",
                               "--shadowsocks-server", "10.231.0.1:8388", "--shadowsocks-password", "sspw",
                               "--vmess-server", "10.231.0.1:10086", "--vmess-id",
                               "a6a2e66d-0000-4000-8000-000000000001"}));
        const QByteArray login = form(loginForm("vpnuser", "vpnpass1"));
        const DevService::Answer a = service.request(QStringLiteral("/api/v2/login"), &login);
        QCOMPARE(a.status, 200);
        QMap<int, int> seen;
        for (const QJsonValue &v : decodeProtected(a.body).value(QStringLiteral("ip_bundle")).toArray()) {
            const int type = v[QStringLiteral("type")].toInt();
            const QJsonObject config =
                QJsonDocument::fromJson(v[QStringLiteral("config")].toString().toUtf8()).object();
            if (type == 4) {
                QCOMPARE(v[QStringLiteral("ip")].toString(), QStringLiteral("10.231.0.1:8388"));
                QCOMPARE(config.value("password").toString(), QStringLiteral("sspw"));
                ++seen[type];
            } else if (type == 6) {
                const QJsonObject proxy = config.value("outbounds").toArray().first().toObject();
                const QJsonObject server = proxy["settings"]["vnext"][0].toObject();
                QCOMPARE(server.value("address").toString(), QStringLiteral("10.231.0.1"));
                QCOMPARE(server.value("port").toInt(), 10086);
                QCOMPARE(server["users"][0]["id"].toString(), QStringLiteral("a6a2e66d-0000-4000-8000-000000000001"));
                QCOMPARE(proxy["streamSettings"]["network"].toString(), QStringLiteral("tcp"));
                ++seen[type];
            }
        }
        QVERIFY(seen.value(4) > 5 && seen.value(6) > 5);
    }
};

TAVRIX_TEST_MAIN_CORE(TestDevService)
#include "tst_devservice.moc"
