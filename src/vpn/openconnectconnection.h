#pragma once

#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

struct openconnect_info;

class OpenVpnRunner;

namespace Tavrix {

class OpenConnectServer;
class OutlineClient;
class V2ray;
class Wireguard;
class XrayShadosocks;

// The one object through which the user interface starts and stops a tunnel. It picks the
// engine by the server type, drives it and turns its signals into one status stream
// (statusChanged) and one counter stream (statsChanged). The OpenConnect engine runs inside
// the process on a pool thread; the others drive external programs.
class OpenConnectConnection : public QObject
{
    Q_OBJECT
    friend class OpenConnectSession;

public:
    enum Status { IDLE = 0, CONNECTING = 1, CONNECTED = 2, DISCONNECTING = 3 };
    Q_ENUM(Status)

    // The server entry's "type".
    enum ServerType { OPENVPN = 1, OPENCONNECT = 2, XRAY_SHADOWSOCKS = 4, WIREGUARD = 5, V2RAY = 6, OUTLINE = 7 };
    Q_ENUM(ServerType)

    // What connect() returns.
    enum ConnectResult {
        CONNECT_STARTED = 0,     // engine started, or nothing to do
        ALREADY_ACTIVE = 1,      // an OpenConnect session exists
        ALREADY_RUNNING = 2,     // the OpenConnect session thread is still running
        INVALID_CREDENTIALS = 3, // user name or password empty
        INVALID_SERVER = 4,      // no configuration or no server host
        MISSING_PRIVILEGE = 5    // the process may not set up a tunnel (nothing was started)
    };

    // Whether the engine of this server type needs the network administration privilege.
    static bool needsNetworkPrivilege(int type);

    static std::shared_ptr<OpenConnectConnection> instance();

    // TLS library set-up for the process: GnuTLS, then the OpenConnect library. Call once at
    // start-up, before the first connect; later calls do nothing.
    static void initTls();

    ~OpenConnectConnection() override;

    void setUsername(const QString &username);
    void setPassword(const QString &password);
    void setType(int type);
    // Fills the engine configuration template (Base64) with the server address "host:port".
    void setConfig(const QString &base64Config, const QString &address);
    void setServer(std::shared_ptr<OpenConnectServer> server);

    QString getUsername() const { return m_username; }
    QString getPassword() const { return m_password; }
    int getType() const { return m_type; }
    QString getConfig() const { return m_config; }
    std::shared_ptr<OpenConnectServer> getServer() const { return m_server; }
    // DNS servers of the running OpenConnect tunnel, for display and the log.
    QString dns() const;

    int connect();
    void disconnectVpn();
    // Asks the OpenConnect session for fresh counters (statsChanged follows); 0 or -1.
    int update_stats();
    Status status() const { return m_status; }

    // What the user is told when the engine of a server type could not be started.
    static QString engineFailureText(int type);
    // The same with the reason the engine gave (a sentence), when it gave one.
    static QString engineFailureText(int type, const QString &reason);

    // Reads "vpnc.log" from folder (the session's private folder the tunnel script logs in)
    // into the application log and deletes it. Only the newest engineLogImportLimit bytes are
    // imported: the script runs with network privileges and its log must not flood ours.
    static void importEngineLog(const QString &folder);
    static constexpr qint64 engineLogImportLimit = 64 * 1024;
    // The private folder of the running OpenConnect session; empty when none.
    QString engineLogFolder() const { return m_engineLogFolder; }

signals:
    void statusChanged(Tavrix::OpenConnectConnection::Status status);
    void statsChanged(uint64_t tx, uint64_t rx);
    // An external engine could not be started (missing, or it gave up before connecting),
    // and the user had not asked to stop meanwhile. message is for the user.
    void connectFailed(const QString &message);

private slots:
    void onStatusChanged(Tavrix::OpenConnectConnection::Status status);

private:
    OpenConnectConnection();

    int connectOpenVpn();
    int connectOpenConnect();
    void connectRunner(int type);
    template<typename Runner> void wireRunner(Runner *runner);
    void disconnectOpenVpn();
    void sendStop();
    void startSession();
    void releaseHandle();
    void runSession(quint64 generation);
    void sessionEnded(quint64 generation);
    void waitForEngineSteps(int timeoutMs);
    // Stops a running OpenConnect session and waits for its thread; true once it has ended.
    bool stopSessionAndWait(int timeoutMs);

    QString m_username;
    QString m_password;
    // Copies taken when a session starts; the session thread reads only these.
    QString m_sessionUsername;
    QString m_sessionPassword;
    std::shared_ptr<OpenConnectServer> m_server;
    intptr_t m_commandFd = -1;
    QFutureWatcher<void> m_watcher;
    Status m_status = IDLE;
    QString m_config;
    int m_type = 0;
    // Guarded: an OpenVPN runner deletes itself when its program ends.
    QPointer<OpenVpnRunner> m_openVpnRunner;
    QPointer<OutlineClient> m_outlineClient;
    QPointer<V2ray> m_v2ray;
    QPointer<Wireguard> m_wireguard;
    QPointer<XrayShadosocks> m_xrayShadowsocks;
    QString m_dns;
    // Made when a session starts (owner-only), removed when it ends.
    QString m_engineLogFolder;
    // Session thread only: CONNECTED has been reported for this session.
    bool m_tunnelReported = false;
    openconnect_info *m_vpninfo = nullptr;
    int m_authFormAnswered = 0;
    int m_usernameRejected = 0;
    int m_passwordRejected = 0;

    // A session counts as running from its start until its end has passed the GUI thread,
    // so that a late IDLE of an old session never clears the command socket of a new one.
    quint64 m_sessionGeneration = 0;
    bool m_sessionRunning = false;
    // Counts connect and disconnect requests: a failure reported after a later request
    // belongs to an attempt the user already gave up.
    quint64 m_requestSerial = 0;
    // Connect steps of the external engines still running on the pool.
    QList<QFuture<bool>> m_engineSteps;
};

} // namespace Tavrix
