#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>

#include <sys/stat.h>

#include "common/config.h"
#include "common/countryflags.h"
#include "common/crypto.h"
#include "common/user.h"
#include "testmain.h"

using namespace Tavrix;

namespace {

QString keyNamed(const QString &name)
{
    if (name == QLatin1String("local"))
        return CodecKey::local();
    if (name == QLatin1String("response"))
        return CodecKey::response();
    if (name == QLatin1String("endpoint"))
        return CodecKey::endpoint();
    return CodecKey::link();
}

QVariant rawValue(const QString &key)
{
    return QSettings(QStringLiteral("Quennark"), QStringLiteral("TavrixVPN")).value(key);
}

int fileMode(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

QJsonObject server(int ipId, const QString &platform, int type, int connectionType = 0)
{
    return QJsonObject{{"ip_id", ipId}, {"platform", platform}, {"type", type}, {"connection_type", connectionType}};
}

} // namespace

class ModelTest : public QObject
{
    Q_OBJECT
private slots:
    // Runs first: nothing has been stored yet.
    void freshInstall()
    {
        const auto config = Config::instance();
        QCOMPARE(config->activeServer(), -1);
        QVERIFY(!config->serverButton());
        config->load();
        QCOMPARE(config->activeServer(), 0);
        QVERIFY(config->serverButton());
        QVERIFY(!config->autoLogin() && !config->killSwitch() && !config->autoConncet() && !config->connectionState() &&
                !config->notify() && !config->refresh());
        QCOMPARE(config->userName(), QString());
        QCOMPARE(Config::loadState(), qMakePair(0, 0));
        // The store file exists before anything is written, and only its owner can read it.
        QCOMPARE(fileMode(Config::storeLocation()), 0600);
    }

    // Values the service and earlier releases produce for 7-bit text.
    void codecVectors_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("local e-mail") << "local"
                                      << "a.user@example.com"
                                      << "VW9CN1cxeVQ9UVgyX11oVS5c";
        QTest::newRow("local slash") << "local"
                                     << "abc/defg"
                                     << "VSNUa1YmX1Y=";
        QTest::newRow("local longer than key")
            << "local"
            << "P@ss w0rd!~ 0123456789 longer than the thirty-two character key"
            << "ZAFENxI0CUMhEUtiAwl0BXUEcgN7DmVeX1dSJ0FmQlBVLxcwWiYZRS1ZRzZKFTJBLhEnXCJFJFFEXEdiWCNP";
        QTest::newRow("response") << "response"
                                  << "{\"status\":1,\"message\":\"ok\"}"
                                  << "M1sLBFJcGQdHckhUUl5NHwcELxxaShFHB1YY";
        QTest::newRow("endpoint") << "endpoint"
                                  << "https://127.0.0.1:8443/api/login.php"
                                  << "Oh9cJhFUWF5UXWVFGHhSQEZLXVtmWAc3EgdYHQoIOwUGJgoe";
        QTest::newRow("link") << "link"
                              << "premium@example.com|1700000000"
                              << "AxoMCAURXg8XLQ9aAwQMSw8LKxNDBWZRXEVVQ0NY";
        QTest::newRow("empty") << "local"
                               << ""
                               << "";
        // Non-ASCII text: the key runs over the UTF-8 bytes.
        QTest::newRow("utf-8 bytes") << "local" << QString::fromUtf8("Pässwörd€") << "ZIKTN0E0+oc3VNfAnw==";
    }
    void codecVectors()
    {
        QFETCH(QString, key);
        QFETCH(QString, plain);
        QFETCH(QString, encoded);
        QCOMPARE(encode(plain, keyNamed(key)), encoded);
        QCOMPARE(decode(encoded, keyNamed(key)), plain);
    }

    void codecRoundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("plain");
        for (const char *key : {"local", "response", "endpoint", "link"}) {
            QTest::addRow("%s latin", key) << key << QString::fromUtf8("é and ü");
            QTest::addRow("%s cjk+emoji", key) << key << QString::fromUtf8("密码 🔒 пароль");
            QTest::addRow("%s leading BOM", key) << key << QString::fromUtf8("\xEF\xBB\xBFx");
            QTest::addRow("%s key char", key) << key << keyNamed(key).left(3);
        }
    }
    void codecRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, plain);
        QCOMPARE(decode(encode(plain, keyNamed(key)), keyNamed(key)), plain);
    }

    void decodeIsLenient_data()
    {
        QTest::addColumn<QString>("encoded");
        QTest::addColumn<QString>("plain");
        QTest::newRow("no padding") << "VSNUa1YmX1Y"
                                    << "abc/defg";
        QTest::newRow("line breaks") << "VSNU\na1Ym\r\nX1Y="
                                     << "abc/defg";
        // Written by earlier releases from "é": the bytes are not UTF-8 and are widened as
        // those releases did, instead of turning into replacement characters.
        QTest::newRow("legacy non-utf8") << "77+d" << QString(QChar(0xFFDB)) + QChar(0xFFFE) + QChar(0xFFAA);
    }
    void decodeIsLenient()
    {
        QFETCH(QString, encoded);
        QFETCH(QString, plain);
        QCOMPARE(decode(encoded, CodecKey::local()), plain);
    }

    void rootKeysRoundTrip()
    {
        const auto config = Config::instance();
        config->setUserName(QStringLiteral("a.user@example.com"));
        config->setPassword(QString::fromUtf8("pä$$ wörd"));
        config->setActiveServer(4711);
        config->setNotify(true);
        config->setProtocol(5);
        config->setKillSwitch(true);
        config->setCountry(QStringLiteral("Bangladesh"));
        config->setCity(QStringLiteral("Dhaka"));
        config->setFlag(50);
        config->setConnectionState(true);
        config->setServerButton(false);
        config->setAutoConncet(true);
        config->setRefresh(true);
        config->setFastestServer(QStringLiteral("Canada"));
        config->setFastestCountryCode(124);
        config->save();

        QCOMPARE(rawValue("ServerHash").toString(), QStringLiteral("VW9CN1cxeVQ9UVgyX11oVS5c"));
        QCOMPARE(rawValue("AutoConncet").toString(), QStringLiteral("true"));
        QCOMPARE(rawValue("FastestCountryCode").toInt(), 124);

        // Overwrite memory, then load the stored values back.
        config->setActiveServer(1);
        config->setServerButton(true);
        config->setKillSwitch(false);
        config->setUserName(QString());
        config->setPassword(QString());
        config->load();
        QCOMPARE(config->userName(), QStringLiteral("a.user@example.com"));
        QCOMPARE(config->password(), QString::fromUtf8("pä$$ wörd"));
        QCOMPARE(config->activeServer(), 4711);
        QVERIFY(config->notify() && config->killSwitch() && config->connectionState() && config->autoConncet() &&
                config->refresh() && !config->serverButton());
        QCOMPARE(config->protocol(), 5);
        QCOMPARE(config->country(), QStringLiteral("Bangladesh"));
        QCOMPARE(config->city(), QStringLiteral("Dhaka"));
        QCOMPARE(config->flag(), 50);
        QCOMPARE(config->fastestServer(), QStringLiteral("Canada"));
        QCOMPARE(config->fastestCountryCode(), 124);
    }

    void storeStaysOwnerOnly()
    {
        const QString path = Config::storeLocation();
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                        QFileDevice::ReadOther);
        Config::setLoginUrl(QStringLiteral("https://127.0.0.1/login"));
        QCOMPARE(fileMode(path), 0600);
        // A plain QSettings writer replaces the file and must keep the mode.
        QSettings(QStringLiteral("Quennark"), QStringLiteral("TavrixVPN")).setValue("app/version", "5.6.0");
        QCOMPARE(fileMode(path), 0600);
        QCOMPARE(Config::appVersion(), QStringLiteral("5.6.0"));
        QCOMPARE(Config::value(SettingsGroup::UserDefaults, SettingsKey::LoginURL).toString(),
                 QStringLiteral("https://127.0.0.1/login"));
    }

    void favouritesAreWrittenThrough()
    {
        const auto config = Config::instance();
        config->setUserName(QStringLiteral("fav@example.com"));
        const auto stored = [&] { return Config::value(config->serverHash(), SettingsKey::Favourites).toString(); };
        config->addFavourite(12);
        config->addFavourite(7);
        config->addFavourite(12);
        QCOMPARE(config->favourites(), QVector<int>({12, 7}));
        QCOMPARE(stored(), QStringLiteral("12:7:"));
        config->removeFavourite(99);
        config->removeFavourite(12);
        QCOMPARE(stored(), QStringLiteral("7:"));

        // A crash now loses nothing: the next sign-in reads the list back.
        config->reset();
        QVERIFY(config->favourites().isEmpty());
        config->setAutoLogin(true);
        QCOMPARE(config->favourites(), QVector<int>({7}));

        // Sign-out stores the list; empty parts are skipped and a non-number reads as 0.
        config->setAutoLogin(false);
        QCOMPARE(stored(), QStringLiteral("7:"));
        Config::setValue(config->serverHash(), SettingsKey::Favourites, QStringLiteral("3::x:5"));
        config->setAutoLogin(true);
        QCOMPARE(config->favourites(), QVector<int>({3, 0, 5}));
        config->removeFavourite(0);
        QCOMPARE(stored(), QStringLiteral("3:5:"));
    }

    void resetSignsOut()
    {
        const auto config = Config::instance();
        config->setActiveServer(12);
        config->setKillSwitch(true);
        config->setProtocol(3);
        config->setAutoLogin(true);
        config->setAutoConncet(true);
        config->reset();
        QCOMPARE(rawValue("ActiveServer").toInt(), -1);
        QCOMPARE(rawValue("KillSwitch").toString(), QStringLiteral("false"));
        QCOMPARE(rawValue("AutoLogin").toString(), QStringLiteral("false"));
        QCOMPARE(rawValue("Protocol").toInt(), 0);
        QVERIFY(config->autoConncet());
    }

    void shadowsocks_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::newRow("host:port") << "203.0.113.5:8388"
                                   << "203.0.113.5"
                                   << "8388";
        QTest::newRow("no colon") << "ss.example.com"
                                  << "ss.example.com"
                                  << "ss.example.com";
        QTest::newRow("many colons") << "a:b:c"
                                     << "a"
                                     << "c";
    }
    void shadowsocks()
    {
        QFETCH(QString, address);
        QFETCH(QString, host);
        QFETCH(QString, port);
        const auto config = Config::instance();
        config->setShadowsocksAddress(address);
        QCOMPARE(config->shadowsocksHost(), host);
        QCOMPARE(config->shadowsocksPort(), port);

        config->setShadowsocksConfig(QStringLiteral("{\"method\":\"chacha20-ietf-poly1305\",\"password\":\"s3cret\"}"));
        QCOMPARE(config->shadowsocksMethod(), QStringLiteral("chacha20-ietf-poly1305"));
        QCOMPARE(config->shadowsocksPassword(), QStringLiteral("s3cret"));
        // Not JSON: the text is kept, method and password stay.
        config->setShadowsocksConfig(QStringLiteral("not json"));
        QCOMPARE(config->shadowsocksConfig(), QStringLiteral("not json"));
        QCOMPARE(config->shadowsocksMethod(), QStringLiteral("chacha20-ietf-poly1305"));
    }

    void pageState()
    {
        Config::saveState(9, 0);
        QCOMPARE(Config::loadState(), qMakePair(9, 0));
        QCOMPARE(Config::value(SettingsGroup::State, SettingsKey::secoundState).toInt(), 0);
    }

    void loginReply()
    {
        QFile file(qEnvironmentVariable("TAVRIX_SOURCE_DIR") + QStringLiteral("/tests/model/login-reply.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray reply = file.readAll();
        User user;
        user.fromLoginResponse(QJsonDocument::fromJson(reply).object());
        QCOMPARE(user.user_type(), 2);
        QCOMPARE(user.expire_in_days(), 30);
        QCOMPARE(user.validity_date(), QDate(2026, 3, 5));
        QCOMPARE(user.user_status(), 3);
        QCOMPARE(user.server_ip_du(), QStringLiteral("198.51.100.2"));
        QCOMPARE(user.contact_email(), QStringLiteral("help@example.com"));
        QCOMPARE(user.free_minutes(), 0); // a number, not the text the service documents
        QCOMPARE(user.show_banner(), 1);
        QCOMPARE(user.show_full_screen(), 0);
        QCOMPARE(user.featuresImageUrl(), QStringLiteral("https://img.example/f.png"));
        QCOMPARE(user.featuresLink(), QStringLiteral("https://shop.example/f"));
        QCOMPARE(user.cardPaymentPackages().size(), 2);
        QCOMPARE(user.webPaymentPortalUrl(), QStringLiteral("https://shop.example/pay"));
        QStringList order;
        for (const QJsonValue &v : user.sliderImages())
            order << v.toObject().value("name").toString();
        QCOMPARE(order, QStringList({"z", "a", "b", "c"}));

        const auto bundles = user.bundles();
        QCOMPARE(bundles.size(), 2);
        QCOMPARE(bundles.at(0)->ip_id(), 1);
        QCOMPARE(bundles.at(0)->countryCode(), 50);
        QVERIFY(bundles.at(0)->isGaming() && !bundles.at(0)->isFastServer());
        QVERIFY(bundles.at(0)->isPlaceholderAddress());
        QCOMPARE(bundles.at(0)->transmission_protocol(), QStringLiteral("UDP"));
        QCOMPARE(bundles.at(1)->countryCode(), 0); // a number where the service sends text

        // A later reply replaces the list whole; a missing key empties it.
        user.fromLoginResponse(QJsonObject{{"free_minutes", "30"}, {"validity_date", "5-Mar-2026"}});
        QVERIFY(user.bundles().isEmpty());
        QCOMPARE(user.free_minutes(), 30);
        QCOMPARE(user.validity_date(), QDate(2026, 3, 5));
        user.fromLoginResponse(QJsonObject{{"validity_date", "2026-03-05"}});
        QVERIFY(!user.validity_date().isValid());
    }

    void serverFilter_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("connectionType");
        QTest::addColumn<bool>("kept");
        QTest::newRow("openvpn windows") << "windows" << 1 << 0 << true;
        QTest::newRow("openvpn all") << "all" << 1 << 0 << true;
        QTest::newRow("capital W") << "Windows" << 1 << 0 << false;
        QTest::newRow("android") << "android" << 1 << 0 << false;
        QTest::newRow("no platform") << "" << 1 << 0 << false;
        QTest::newRow("openconnect ct 1") << "all" << 2 << 1 << true;
        QTest::newRow("openconnect ct 0") << "all" << 2 << 0 << false;
        QTest::newRow("openconnect ct 2") << "windows" << 2 << 2 << false;
        QTest::newRow("type 3") << "all" << 3 << 1 << false;
        QTest::newRow("shadowsocks") << "all" << 4 << 0 << true;
        QTest::newRow("wireguard") << "all" << 5 << 0 << true;
        QTest::newRow("v2ray") << "windows" << 6 << 0 << true;
        QTest::newRow("outline") << "all" << 7 << 1 << false;
        QTest::newRow("type 0") << "all" << 0 << 1 << false;
    }
    void serverFilter()
    {
        QFETCH(QString, platform);
        QFETCH(int, type);
        QFETCH(int, connectionType);
        QFETCH(bool, kept);
        const QJsonArray list{server(1, "all", 1), server(2, platform, type, connectionType), 17,
                              server(3, "windows", 5)};
        QVector<int> ids;
        for (const IPBundlePtr &b : User::usableBundles(list))
            ids << b->ip_id();
        QCOMPARE(ids, kept ? QVector<int>({1, 2, 3}) : QVector<int>({1, 3}));
    }

    void activeBundle_data()
    {
        QTest::addColumn<int>("activeServer");
        QTest::addColumn<QString>("expectedName");
        QTest::newRow("unset") << -1 << "first";
        QTest::newRow("stale") << 999 << "first";
        QTest::newRow("match") << 8 << "eight";
        QTest::newRow("last match wins") << 5 << "second five";
    }
    void activeBundle()
    {
        QFETCH(int, activeServer);
        QFETCH(QString, expectedName);
        User user;
        QVERIFY(!user.activeBundle());
        QJsonArray list;
        const QVector<QPair<int, QString>> rows{{3, "first"}, {5, "first five"}, {8, "eight"}, {5, "second five"}};
        for (const auto &row : rows) {
            QJsonObject o = server(row.first, "all", 1);
            o.insert("bundleName", row.second);
            list.append(o);
        }
        user.setBundles(User::usableBundles(list));
        Config::instance()->setActiveServer(activeServer);
        QCOMPARE(user.activeBundle()->bundleName(), expectedName);
    }

    void typeText_data()
    {
        QTest::addColumn<int>("userType");
        QTest::addColumn<int>("loyal");
        QTest::addColumn<QString>("text");
        QTest::newRow("loyal premium") << 2 << 1 << "Loyal Premium";
        QTest::newRow("loyal free") << 0 << 5 << "Loyal Premium";
        QTest::newRow("scratch card") << 1 << 0 << "Scratch Card";
        QTest::newRow("premium") << 2 << 0 << "Premium";
        QTest::newRow("free") << 3 << 0 << "Free";
    }
    void typeText()
    {
        QFETCH(int, userType);
        QFETCH(int, loyal);
        QFETCH(QString, text);
        User user;
        user.setUser_type(userType);
        user.setIs_loyal_user(loyal);
        QCOMPARE(user.typeText(), text);
    }

    void flags()
    {
        int known = 0;
        QSet<QString> names;
        for (int code = -10; code < 1100; ++code) {
            const QString name = flagName(code);
            if (name.isEmpty())
                continue;
            ++known;
            names.insert(name);
            QVERIFY2(QRegularExpression("^flag_[a-z_]+$").match(name).hasMatch(), qPrintable(name));
            QCOMPARE(iconPath(code), ":/assets/flags/" + name);
        }
        QCOMPARE(known, 221);
        QCOMPARE(names.size(), 220);
        QCOMPARE(countryFlags().size(), 221);
        QCOMPARE(flagName(50), QStringLiteral("flag_bangladesh"));
        QCOMPARE(flagName(124), QStringLiteral("flag_canada"));
        QCOMPARE(flagName(840), QStringLiteral("flag_united_states_of_america"));
        QCOMPARE(flagName(408), QStringLiteral("flag_north_korea"));
        QCOMPARE(flagName(410), QStringLiteral("flag_south_korea"));
        QCOMPARE(iconPath(175), iconPath(474));
        QCOMPARE(iconPath(999), QStringLiteral(":/assets/flags/"));
        QCOMPARE(iconPath(1001), QStringLiteral(":/assets/gamming-server.png"));
        QCOMPARE(iconPath(1006), QStringLiteral(":/assets/v2rayLogo.jpeg"));
        QCOMPARE(iconPath(-1), QStringLiteral(":/assets/logo.png"));
    }

    // The resource build keeps its own list of pictures; every name the client asks for
    // must have one, made from the right country.
    void flagPicturesMatchTheResourceList()
    {
        QFile list(qEnvironmentVariable("TAVRIX_SOURCE_DIR") + "/assets/flags/countries.txt");
        if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
            QSKIP("no assets/flags/countries.txt in this tree");
        QSet<QString> pictures;
        while (!list.atEnd()) {
            const QStringList parts = QString::fromUtf8(list.readLine()).simplified().split(' ');
            if (parts.size() < 3 || !parts.at(0).at(0).isDigit())
                continue;
            const int code = parts.at(0).toInt();
            QCOMPARE(flagName(code), "flag_" + parts.at(2));
            pictures.insert(parts.at(2));
            for (const CountryFlag &f : countryFlags()) {
                if (f.code == code)
                    QCOMPARE(QString::fromLatin1(f.picture).toLower(), parts.at(1).toLower());
            }
        }
        for (const CountryFlag &f : countryFlags())
            QVERIFY2(pictures.contains(QString::fromLatin1(f.name).mid(5)), f.name);
    }
};

TAVRIX_TEST_MAIN_CORE(ModelTest)
#include "tst_model.moc"
