#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>

namespace Tavrix {

// Names of the settings groups. The root keys use no group.
namespace SettingsGroup {
inline constexpr char Application[] = "Application";
inline constexpr char UserDefaults[] = "UserDefaults";
inline constexpr char ConfigCache[] = "ConfigCache";
inline constexpr char State[] = "State";
} // namespace SettingsGroup

// Every key of the settings store. Identifiers are the key texts where those are valid names.
namespace SettingsKey {
// Root: the user's choices, always written together by Config::save().
inline constexpr char ServerHash[] = "ServerHash";
inline constexpr char ConnectionHash[] = "ConnectionHash";
inline constexpr char ActiveServer[] = "ActiveServer";
inline constexpr char Notify[] = "Notify";
inline constexpr char AutoLogin[] = "AutoLogin";
inline constexpr char Protocol[] = "Protocol";
inline constexpr char KillSwitch[] = "KillSwitch";
inline constexpr char Country[] = "Country";
inline constexpr char City[] = "City";
inline constexpr char Flag[] = "Flag";
inline constexpr char ConnectionState[] = "ConnectionState";
inline constexpr char ServerButton[] = "ServerButton";
inline constexpr char AutoConncet[] = "AutoConncet";
inline constexpr char Refresh[] = "Refresh";
inline constexpr char FastestServer[] = "FastestServer";
inline constexpr char FastestCountryCode[] = "FastestCountryCode";

// Root: other keys.
inline constexpr char AppVersion[] = "app/version";
inline constexpr char vpnserverId[] = "vpnserverId";
inline constexpr char ipId[] = "ipId";
inline constexpr char connectionType[] = "connectionType";

// Group "Application".
inline constexpr char lastAppVersion[] = "lastAppVersion";
inline constexpr char URLSchemeRegistered[] = "URLSchemeRegistered";
inline constexpr char RegisteredExecutablePath[] = "RegisteredExecutablePath";

// Group "UserDefaults": the service's endpoints, written by the configuration bootstrap.
inline constexpr char LoginURL[] = "LoginURL";
inline constexpr char SignUpURL[] = "SignUpURL";
inline constexpr char ForgotPasswordURL[] = "ForgotPasswordURL";
inline constexpr char pricingOnline[] = "pricingOnline";
inline constexpr char freeVSpaid[] = "freeVSpaid";
inline constexpr char loggedDevice[] = "loggedDevice";
inline constexpr char emailSubsUrl[] = "emailSubsUrl";
inline constexpr char redeemVoucherURL[] = "redeemVoucherURL";
inline constexpr char ReferURL[] = "ReferURL";
inline constexpr char RererInfoURL[] = "RererInfoURL";
inline constexpr char darkWebURL[] = "darkWebURL";
inline constexpr char publicIPURL[] = "publicIPURL";
inline constexpr char purchaseHistoryURL[] = "purchaseHistoryURL";
inline constexpr char rateUsURL[] = "rateUsURL";
inline constexpr char wgURL[] = "wgURL";

// Group "UserDefaults": other keys.
inline constexpr char activeConfig[] = "activeConfig";
inline constexpr char isConfigExist[] = "isConfigExist";
inline constexpr char jsonData[] = "jsonData";
inline constexpr char userLoggedInAt[] = "userLoggedInAt";
inline constexpr char isSplitTunnelEnabled[] = "isSplitTunnelEnabled";
inline constexpr char ClickedProcesses[] = "ClickedProcesses";

// Group "ConfigCache": source name ("proxy", "direct", "firebase") followed by a suffix.
inline constexpr char ConfigSuffix[] = "_config";
inline constexpr char CountryConfigSuffix[] = "_country_config";
inline constexpr char TimestampSuffix[] = "_timestamp";

// Group "State".
inline constexpr char firstState[] = "firstState";
inline constexpr char secoundState[] = "secoundState";

// Group named by the stored (encoded) user name.
inline constexpr char Favourites[] = "Favourites";
} // namespace SettingsKey

// The process-wide copy of the user's persisted choices, and the one door to the settings
// store. No settings object is kept open: each access opens the store, uses it and drops it.
// Setters never save; callers call save().
class Config
{
public:
    static std::shared_ptr<Config> instance();

    Config(const Config &) = delete;
    Config &operator=(const Config &) = delete;

    // The 16 root keys.
    void load();
    void save();
    // Sign-out: forgets the server choice, favourites and protection flags, then saves.
    void reset();

    // Credentials: stored encoded with the local key.
    QString userName() const;
    QString password() const;
    void setUserName(const QString &text, bool encode = true);
    void setPassword(const QString &text, bool encode = true);
    // The stored (encoded) texts, as they are in the store.
    QString serverHash() const { return m_serverHash; }
    QString connectionHash() const { return m_connectionHash; }

    // true: loads the signed-in account's favourites; false: stores them.
    void setAutoLogin(bool flag);
    bool autoLogin() const { return m_autoLogin; }

    int activeServer() const { return m_activeServer; }
    void setActiveServer(int ipId);
    bool notify() const { return m_notify; }
    void setNotify(bool on);
    int protocol() const { return m_protocol; }
    void setProtocol(int protocol);
    bool killSwitch() const { return m_killSwitch; }
    void setKillSwitch(bool on);
    QString country() const { return m_country; }
    void setCountry(const QString &country);
    QString city() const { return m_city; }
    void setCity(const QString &city);
    int flag() const { return m_flag; }
    void setFlag(int flag);
    bool connectionState() const { return m_connectionState; }
    void setConnectionState(bool connected);
    bool serverButton() const { return m_serverButton; }
    void setServerButton(bool quickAccess);
    bool autoConncet() const { return m_autoConncet; }
    void setAutoConncet(bool on);
    bool refresh() const { return m_refresh; }
    void setRefresh(bool on);
    QString fastestServer() const { return m_fastestServer; }
    void setFastestServer(const QString &countryName);
    int fastestCountryCode() const { return m_fastestCountryCode; }
    void setFastestCountryCode(int code);

    // Not persisted: type of the server being connected.
    int lastServerType() const { return m_lastServerType; }
    void setLastServerType(int type);

    // Favourite servers by ip_id, in the order added. Every change is also written to the
    // signed-in account's "Favourites", so it survives a crash or a quit while signed in.
    QVector<int> favourites() const { return m_favourites; }
    bool isFavourite(int ipId) const;
    void addFavourite(int ipId);
    void removeFavourite(int ipId);

    // Shadowsocks server being connected (not persisted).
    QString shadowsocksConfig() const { return m_shadowsocksConfig; }
    void setShadowsocksConfig(const QString &json);
    QString shadowsocksMethod() const { return m_shadowsocksMethod; }
    void setShadowsocksMethod(const QString &method);
    QString shadowsocksPassword() const { return m_shadowsocksPassword; }
    void setShadowsocksPassword(const QString &password);
    QString shadowsocksHost() const { return m_shadowsocksHost; }
    QString shadowsocksPort() const { return m_shadowsocksPort; }
    void setShadowsocksAddress(const QString &address);

    // Page indices of the server page hub (group "State"). Absent values read as 0.
    static void saveState(int first, int second);
    static QPair<int, int> loadState();

    // Direct access to the store, for the keys that Config does not hold in memory.
    // An empty group means the root. Writers make sure the store file is owner-only.
    static QVariant value(const QString &group, const QString &key, const QVariant &defaultValue = QVariant());
    static void setValue(const QString &group, const QString &key, const QVariant &value);
    static void remove(const QString &group, const QString &key);
    static void removeGroup(const QString &group);
    static bool contains(const QString &group, const QString &key);
    // Where the store lives (a file path on Linux).
    static QString storeLocation();

    // Group "UserDefaults".
    static QString userDefault(const QString &key, const QString &defaultValue = QString());
    static void setUserDefault(const QString &key, const QVariant &value);

    static QString loginUrl();
    static void setLoginUrl(const QString &url);
    static QString signUpUrl();
    static void setSignUpUrl(const QString &url);
    static QString forgotPasswordUrl();
    static void setForgotPasswordUrl(const QString &url);
    static QString pricingOnline();
    static void setPricingOnline(const QString &url);
    static QString freeVsPaid();
    static void setFreeVsPaid(const QString &json);
    static QString loggedDeviceUrl();
    static void setLoggedDeviceUrl(const QString &url);
    static QString emailSubsUrl();
    static void setEmailSubsUrl(const QString &url);
    static QString redeemVoucherUrl();
    static void setRedeemVoucherUrl(const QString &url);
    static QString referUrl();
    static void setReferUrl(const QString &url);
    static QString referInfoUrl();
    static void setReferInfoUrl(const QString &url);
    static QString darkWebUrl();
    static void setDarkWebUrl(const QString &url);
    static QString publicIpUrl();
    static void setPublicIpUrl(const QString &url);
    static QString purchaseHistoryUrl();
    static void setPurchaseHistoryUrl(const QString &url);
    static QString rateUsUrl();
    static void setRateUsUrl(const QString &url);
    static QString wgUrl();
    static void setWgUrl(const QString &url);

    static QString activeConfig();
    static void setActiveConfig(const QString &source);
    static bool isConfigExist();
    static void setConfigExist(bool exists);
    static QString jsonData();
    static void setJsonData(const QString &json);
    static QString userLoggedInAt();
    static void setUserLoggedInAt(const QString &when);
    static bool isSplitTunnelEnabled();
    static void setSplitTunnelEnabled(bool on);
    static QStringList clickedProcesses();
    static void setClickedProcesses(const QStringList &paths);
    // One flag per application chosen for split tunnelling, keyed by its base name.
    static bool splitTunnelApp(const QString &baseName);
    static void setSplitTunnelApp(const QString &baseName, bool chosen);

    // Group "ConfigCache": source is "proxy", "direct" or "firebase"; suffix one of the
    // SettingsKey::*Suffix values.
    static QString configCache(const QString &source, const QString &suffix);
    static void setConfigCache(const QString &source, const QString &suffix, const QString &value);
    static void clearConfigCache();

    // Root and group "Application".
    static QString appVersion();
    static void setAppVersion(const QString &version);
    static QString lastAppVersion();
    static void setLastAppVersion(const QString &version);
    static bool urlSchemeRegistered();
    static void setUrlSchemeRegistered(bool registered);
    static QString registeredExecutablePath();
    static void setRegisteredExecutablePath(const QString &path);
    // The "FAVORITE" flag, kept in a store of its own (organisation "Quennark Limited",
    // application "Tavrix"): set once the user has starred a server.
    static void setFavoriteFlag();

    // The WireGuard server being connected (root keys, only written).
    static void setWireGuardServer(int vpnServerId, int ipId, int connectionType);

private:
    Config();
    void writeFavourites() const;
    void readFavourites();

    QString m_serverHash;
    QString m_connectionHash;
    int m_activeServer = -1;
    bool m_notify = false;
    bool m_autoLogin = false;
    int m_protocol = 0;
    bool m_killSwitch = false;
    QString m_country;
    QString m_city;
    int m_flag = 0;
    bool m_connectionState = false;
    bool m_serverButton = false;
    bool m_autoConncet = false;
    bool m_refresh = false;
    QString m_fastestServer;
    int m_fastestCountryCode = 0;

    QVector<int> m_favourites;
    int m_lastServerType = 0;
    QString m_shadowsocksConfig;
    QString m_shadowsocksMethod;
    QString m_shadowsocksPassword;
    QString m_shadowsocksHost;
    QString m_shadowsocksPort;
};

} // namespace Tavrix
