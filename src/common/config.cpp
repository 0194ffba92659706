#include "common/config.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include "common/crypto.h"
#include "platform/settingsfile.h"

namespace Tavrix {

namespace {

const char Organisation[] = "Quennark";
const char Application[] = "TavrixVPN";

// Opens the store for one access. Writers pass forWriting so the file exists owner-only
// before anything is written to it.
std::unique_ptr<QSettings> openStore(bool forWriting)
{
    auto settings = std::make_unique<QSettings>(QString::fromLatin1(Organisation), QString::fromLatin1(Application));
    if (forWriting)
        restrictSettingsFile(settings->fileName());
    return settings;
}

QString favouritesText(const QVector<int> &ids)
{
    QString text;
    for (const int id : ids)
        text += QString::number(id) + QLatin1Char(':');
    return text;
}

} // namespace

std::shared_ptr<Config> Config::instance()
{
    static const std::shared_ptr<Config> config(new Config);
    return config;
}

Config::Config()
{
    restrictSettingsFile(storeLocation());
}

void Config::load()
{
    using namespace SettingsKey;
    auto s = openStore(true);
    m_serverHash = s->value(ServerHash, QString()).toString();
    m_connectionHash = s->value(ConnectionHash, QString()).toString();
    m_activeServer = s->value(ActiveServer, 0).toInt();
    m_notify = s->value(Notify, false).toBool();
    m_autoLogin = s->value(AutoLogin, false).toBool();
    m_protocol = s->value(Protocol, 0).toInt();
    m_killSwitch = s->value(KillSwitch, false).toBool();
    m_country = s->value(Country, QString()).toString();
    m_city = s->value(City, QString()).toString();
    m_flag = s->value(Flag, 0).toInt();
    m_connectionState = s->value(ConnectionState, false).toBool();
    m_serverButton = s->value(ServerButton, true).toBool();
    m_autoConncet = s->value(AutoConncet, false).toBool();
    m_refresh = s->value(Refresh, false).toBool();
    m_fastestServer = s->value(FastestServer, QString()).toString();
    m_fastestCountryCode = s->value(FastestCountryCode, 0).toInt();
}

void Config::save()
{
    using namespace SettingsKey;
    auto s = openStore(true);
    s->setValue(ServerHash, m_serverHash);
    s->setValue(ConnectionHash, m_connectionHash);
    s->setValue(ActiveServer, m_activeServer);
    s->setValue(Notify, m_notify);
    s->setValue(AutoLogin, m_autoLogin);
    s->setValue(Protocol, m_protocol);
    s->setValue(KillSwitch, m_killSwitch);
    s->setValue(Country, m_country);
    s->setValue(City, m_city);
    s->setValue(Flag, m_flag);
    s->setValue(ConnectionState, m_connectionState);
    s->setValue(ServerButton, m_serverButton);
    s->setValue(AutoConncet, m_autoConncet);
    s->setValue(Refresh, m_refresh);
    s->setValue(FastestServer, m_fastestServer);
    s->setValue(FastestCountryCode, m_fastestCountryCode);
}

void Config::reset()
{
    m_activeServer = -1;
    m_favourites.clear();
    m_notify = false;
    m_autoLogin = false;
    m_killSwitch = false;
    m_protocol = 0;
    save();
}

QString Config::userName() const
{
    return m_serverHash.isEmpty() ? QString() : decode(m_serverHash, CodecKey::local());
}

QString Config::password() const
{
    return m_connectionHash.isEmpty() ? QString() : decode(m_connectionHash, CodecKey::local());
}

void Config::setUserName(const QString &text, bool encodeText)
{
    m_serverHash = encodeText ? encode(text, CodecKey::local()) : text;
}

void Config::setPassword(const QString &text, bool encodeText)
{
    m_connectionHash = encodeText ? encode(text, CodecKey::local()) : text;
}

void Config::setAutoLogin(bool flag)
{
    m_autoLogin = flag;
    if (flag)
        readFavourites();
    else
        writeFavourites();
}

void Config::readFavourites()
{
    auto s = openStore(false);
    s->beginGroup(m_serverHash);
    const QString text = s->value(SettingsKey::Favourites, QString()).toString();
    m_favourites.clear();
    const QStringList parts = text.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &part : parts)
        m_favourites.append(part.toInt());
}

void Config::writeFavourites() const
{
    auto s = openStore(true);
    s->beginGroup(m_serverHash);
    s->setValue(SettingsKey::Favourites, favouritesText(m_favourites));
}

bool Config::isFavourite(int ipId) const
{
    return m_favourites.contains(ipId);
}

void Config::addFavourite(int ipId)
{
    if (m_favourites.contains(ipId))
        return;
    m_favourites.append(ipId);
    // Without a signed-in account there is no list to write to.
    if (!m_serverHash.isEmpty())
        writeFavourites();
}

void Config::removeFavourite(int ipId)
{
    if (m_favourites.removeAll(ipId) > 0 && !m_serverHash.isEmpty())
        writeFavourites();
}

void Config::setActiveServer(int ipId)
{
    m_activeServer = ipId;
}
void Config::setNotify(bool on)
{
    m_notify = on;
}
void Config::setProtocol(int protocol)
{
    m_protocol = protocol;
}
void Config::setKillSwitch(bool on)
{
    m_killSwitch = on;
}
void Config::setCountry(const QString &country)
{
    m_country = country;
}
void Config::setCity(const QString &city)
{
    m_city = city;
}
void Config::setFlag(int flag)
{
    m_flag = flag;
}
void Config::setConnectionState(bool connected)
{
    m_connectionState = connected;
}
void Config::setServerButton(bool quickAccess)
{
    m_serverButton = quickAccess;
}
void Config::setAutoConncet(bool on)
{
    m_autoConncet = on;
}
void Config::setRefresh(bool on)
{
    m_refresh = on;
}
void Config::setFastestServer(const QString &countryName)
{
    m_fastestServer = countryName;
}
void Config::setFastestCountryCode(int code)
{
    m_fastestCountryCode = code;
}
void Config::setLastServerType(int type)
{
    m_lastServerType = type;
}
void Config::setShadowsocksMethod(const QString &method)
{
    m_shadowsocksMethod = method;
}
void Config::setShadowsocksPassword(const QString &password)
{
    m_shadowsocksPassword = password;
}

void Config::setShadowsocksConfig(const QString &json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8());
    if (doc.isObject()) {
        const QJsonObject object = doc.object();
        m_shadowsocksMethod = object.value(QStringLiteral("method")).toString();
        m_shadowsocksPassword = object.value(QStringLiteral("password")).toString();
    }
    m_shadowsocksConfig = json;
}

void Config::setShadowsocksAddress(const QString &address)
{
    const QStringList parts = address.split(QLatin1Char(':'));
    m_shadowsocksHost = parts.first();
    m_shadowsocksPort = parts.last();
}

void Config::saveState(int first, int second)
{
    auto s = openStore(true);
    s->beginGroup(SettingsGroup::State);
    s->setValue(SettingsKey::firstState, first);
    s->setValue(SettingsKey::secoundState, second);
}

QPair<int, int> Config::loadState()
{
    auto s = openStore(false);
    s->beginGroup(SettingsGroup::State);
    return {s->value(SettingsKey::firstState, 0).toInt(), s->value(SettingsKey::secoundState, 0).toInt()};
}

QVariant Config::value(const QString &group, const QString &key, const QVariant &defaultValue)
{
    auto s = openStore(false);
    s->beginGroup(group);
    return s->value(key, defaultValue);
}

void Config::setValue(const QString &group, const QString &key, const QVariant &value)
{
    auto s = openStore(true);
    s->beginGroup(group);
    s->setValue(key, value);
}

void Config::remove(const QString &group, const QString &key)
{
    // An empty key would make QSettings clear the whole group.
    if (key.isEmpty())
        return;
    auto s = openStore(true);
    s->beginGroup(group);
    s->remove(key);
}

void Config::removeGroup(const QString &group)
{
    // QSettings::remove("") inside a group would clear the whole store when group is empty.
    if (group.isEmpty())
        return;
    auto s = openStore(true);
    s->remove(group);
}

bool Config::contains(const QString &group, const QString &key)
{
    auto s = openStore(false);
    s->beginGroup(group);
    return s->contains(key);
}

QString Config::storeLocation()
{
    return openStore(false)->fileName();
}

QString Config::userDefault(const QString &key, const QString &defaultValue)
{
    return value(SettingsGroup::UserDefaults, key, defaultValue).toString();
}

void Config::setUserDefault(const QString &key, const QVariant &v)
{
    setValue(SettingsGroup::UserDefaults, key, v);
}

QString Config::loginUrl()
{
    return userDefault(SettingsKey::LoginURL);
}
void Config::setLoginUrl(const QString &url)
{
    setUserDefault(SettingsKey::LoginURL, url);
}
QString Config::signUpUrl()
{
    return userDefault(SettingsKey::SignUpURL);
}
void Config::setSignUpUrl(const QString &url)
{
    setUserDefault(SettingsKey::SignUpURL, url);
}
QString Config::forgotPasswordUrl()
{
    return userDefault(SettingsKey::ForgotPasswordURL);
}
void Config::setForgotPasswordUrl(const QString &url)
{
    setUserDefault(SettingsKey::ForgotPasswordURL, url);
}
QString Config::pricingOnline()
{
    return userDefault(SettingsKey::pricingOnline);
}
void Config::setPricingOnline(const QString &url)
{
    setUserDefault(SettingsKey::pricingOnline, url);
}
QString Config::freeVsPaid()
{
    return userDefault(SettingsKey::freeVSpaid);
}
void Config::setFreeVsPaid(const QString &json)
{
    setUserDefault(SettingsKey::freeVSpaid, json);
}
QString Config::loggedDeviceUrl()
{
    return userDefault(SettingsKey::loggedDevice);
}
void Config::setLoggedDeviceUrl(const QString &url)
{
    setUserDefault(SettingsKey::loggedDevice, url);
}
QString Config::emailSubsUrl()
{
    return userDefault(SettingsKey::emailSubsUrl);
}
void Config::setEmailSubsUrl(const QString &url)
{
    setUserDefault(SettingsKey::emailSubsUrl, url);
}
QString Config::redeemVoucherUrl()
{
    return userDefault(SettingsKey::redeemVoucherURL);
}
void Config::setRedeemVoucherUrl(const QString &url)
{
    setUserDefault(SettingsKey::redeemVoucherURL, url);
}
QString Config::referUrl()
{
    return userDefault(SettingsKey::ReferURL);
}
void Config::setReferUrl(const QString &url)
{
    setUserDefault(SettingsKey::ReferURL, url);
}
QString Config::referInfoUrl()
{
    return userDefault(SettingsKey::RererInfoURL);
}
void Config::setReferInfoUrl(const QString &url)
{
    setUserDefault(SettingsKey::RererInfoURL, url);
}
QString Config::darkWebUrl()
{
    return userDefault(SettingsKey::darkWebURL);
}
void Config::setDarkWebUrl(const QString &url)
{
    setUserDefault(SettingsKey::darkWebURL, url);
}
QString Config::publicIpUrl()
{
    return userDefault(SettingsKey::publicIPURL);
}
void Config::setPublicIpUrl(const QString &url)
{
    setUserDefault(SettingsKey::publicIPURL, url);
}
QString Config::purchaseHistoryUrl()
{
    return userDefault(SettingsKey::purchaseHistoryURL);
}
void Config::setPurchaseHistoryUrl(const QString &url)
{
    setUserDefault(SettingsKey::purchaseHistoryURL, url);
}
QString Config::rateUsUrl()
{
    return userDefault(SettingsKey::rateUsURL);
}
void Config::setRateUsUrl(const QString &url)
{
    setUserDefault(SettingsKey::rateUsURL, url);
}
QString Config::wgUrl()
{
    return userDefault(SettingsKey::wgURL);
}
void Config::setWgUrl(const QString &url)
{
    setUserDefault(SettingsKey::wgURL, url);
}

QString Config::activeConfig()
{
    return userDefault(SettingsKey::activeConfig);
}
void Config::setActiveConfig(const QString &source)
{
    setUserDefault(SettingsKey::activeConfig, source);
}

bool Config::isConfigExist()
{
    return value(SettingsGroup::UserDefaults, SettingsKey::isConfigExist, false).toBool();
}

void Config::setConfigExist(bool exists)
{
    setUserDefault(SettingsKey::isConfigExist, exists);
}
QString Config::jsonData()
{
    return userDefault(SettingsKey::jsonData);
}
void Config::setJsonData(const QString &json)
{
    setUserDefault(SettingsKey::jsonData, json);
}
QString Config::userLoggedInAt()
{
    return userDefault(SettingsKey::userLoggedInAt);
}
void Config::setUserLoggedInAt(const QString &when)
{
    setUserDefault(SettingsKey::userLoggedInAt, when);
}

bool Config::isSplitTunnelEnabled()
{
    return value(SettingsGroup::UserDefaults, SettingsKey::isSplitTunnelEnabled, false).toBool();
}

void Config::setSplitTunnelEnabled(bool on)
{
    setUserDefault(SettingsKey::isSplitTunnelEnabled, on);
}

QStringList Config::clickedProcesses()
{
    return value(SettingsGroup::UserDefaults, SettingsKey::ClickedProcesses, QStringList()).toStringList();
}

void Config::setClickedProcesses(const QStringList &paths)
{
    setUserDefault(SettingsKey::ClickedProcesses, paths);
}

bool Config::splitTunnelApp(const QString &baseName)
{
    return value(SettingsGroup::UserDefaults, baseName, false).toBool();
}

void Config::setSplitTunnelApp(const QString &baseName, bool chosen)
{
    setUserDefault(baseName, chosen);
}

QString Config::configCache(const QString &source, const QString &suffix)
{
    return value(SettingsGroup::ConfigCache, source + suffix, QString()).toString();
}

void Config::setConfigCache(const QString &source, const QString &suffix, const QString &v)
{
    setValue(SettingsGroup::ConfigCache, source + suffix, v);
}

void Config::clearConfigCache()
{
    removeGroup(SettingsGroup::ConfigCache);
}

void Config::setFavoriteFlag()
{
    QSettings(QStringLiteral("Quennark Limited"), QStringLiteral("Tavrix")).setValue(QStringLiteral("FAVORITE"), true);
}

QString Config::appVersion()
{
    return value(QString(), SettingsKey::AppVersion, QString()).toString();
}
void Config::setAppVersion(const QString &version)
{
    setValue(QString(), SettingsKey::AppVersion, version);
}

QString Config::lastAppVersion()
{
    return value(SettingsGroup::Application, SettingsKey::lastAppVersion, QString()).toString();
}

void Config::setLastAppVersion(const QString &version)
{
    setValue(SettingsGroup::Application, SettingsKey::lastAppVersion, version);
}

bool Config::urlSchemeRegistered()
{
    return value(SettingsGroup::Application, SettingsKey::URLSchemeRegistered, false).toBool();
}

void Config::setUrlSchemeRegistered(bool registered)
{
    setValue(SettingsGroup::Application, SettingsKey::URLSchemeRegistered, registered);
}

QString Config::registeredExecutablePath()
{
    return value(SettingsGroup::Application, SettingsKey::RegisteredExecutablePath, QString()).toString();
}

void Config::setRegisteredExecutablePath(const QString &path)
{
    setValue(SettingsGroup::Application, SettingsKey::RegisteredExecutablePath, path);
}

void Config::setWireGuardServer(int vpnServerId, int ipId, int connectionType)
{
    auto s = openStore(true);
    s->setValue(SettingsKey::vpnserverId, vpnServerId);
    s->setValue(SettingsKey::ipId, ipId);
    s->setValue(SettingsKey::connectionType, connectionType);
}

} // namespace Tavrix
