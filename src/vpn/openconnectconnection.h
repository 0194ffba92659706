#pragma once

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

#include "vpn/tunnelliveness.h"

struct openconnect_info;

class OpenVpnRunner;
class QThread;
class QProcess;

namespace Tavrix {

class HelperTunDevice;
class NetworkWatch;
class OpenConnectServer;
class Reconnector;
class SleepWatch;
class OutlineClient;
class V2ray;
class Wireguard;
class XrayShadosocks;

// The one object through which the user interface starts and stops a tunnel. It picks the
// engine by the server type, drives it and turns its signals into one status stream
// (statusChanged) and one counter stream (statsChanged). The OpenConnect engine runs inside
// the process on a thread of its own, which the controller owns and joins; the others drive
// external programs.
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
    // How WireGuard runners fetch their server's configuration (vpn_server_id, ip_id,
    // connection_type) from the account service: set by the layer above that holds its API.
    void setWireGuardConfigFetch(std::function<QString(int, int, int)> fetch);

    QString getUsername() const { return m_username; }
    QString getPassword() const { return m_password; }
    int getType() const { return m_type; }
    QString getConfig() const { return m_config; }
    std::shared_ptr<OpenConnectServer> getServer() const { return m_server; }
    // DNS servers of the running OpenConnect tunnel, for display and the log.
    QString dns() const;

    int connect();
    void disconnectVpn();
    // The user chose to trust the key an OpenConnect server presented instead of the one stored
    // for it (serverKeyChanged): it replaces the stored key. False when it could not be stored.
    bool trustServerKey(const QString &server, const QString &pin);
    // Asks the OpenConnect session for fresh counters (statsChanged follows); 0 or -1.
    int update_stats();
    Status status() const { return m_status; }

    // Whether a tunnel that was up is being brought back. The status is CONNECTING meanwhile
    // (never IDLE: the kill switch keeps the tunnel's rules, nothing is unblocked).
    bool isReconnecting() const;
    // Looks at the tunnel at once (the network changed, the machine woke up): the engine
    // re-establishes its session, or the lost tunnel is brought back.
    void checkTunnel(const QString &why);

    // Short timings for tests only (settings and the environment cannot reach them): the
    // reconnect policy's, the OpenConnect dead-peer interval and the tunnel check interval.
    struct ReconnectTiming
    {
        int firstDelayMs;
        int maxDelayMs;
        int giveUpMs;
        int engineGraceMs;
        int attemptTimeoutMs;
        int deadPeerSeconds;
        int checkIntervalMs;
        // The proxies' check through the engine: how often, and how long one may take. Two
        // failures in a row (the second at once) within 5 s of a loss: interval + 2 x time-out.
        int proxyCheckIntervalMs = 2000;
        int proxyCheckTimeoutMs = 1000;
    };
    void setReconnectTimingForTests(const ReconnectTiming &timing);

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
    // An OpenConnect server presented another key than the one stored for it at the first
    // connection: the session was refused before anything was sent, and has ended (IDLE came
    // first). Pins are "pin-sha256:..."; server is the store's name ("host:port").
    void serverKeyChanged(const QString &server, const QString &storedPin, const QString &offeredPin);
    // A lost tunnel is being brought back (true), or that is over (false: back, given up or
    // the user disconnected).
    void reconnectingChanged(bool reconnecting);
    // Bringing the tunnel back was given up; message is for the user. IDLE follows.
    void reconnectGaveUp(const QString &message);
    // What an engine reports, before the controller decides what the user is shown. epoch
    // tells reports of an engine already replaced or stopped apart.
    void engineStatus(Tavrix::OpenConnectConnection::Status status, quint64 epoch, QPrivateSignal);

private slots:
    void onStatusChanged(Tavrix::OpenConnectConnection::Status status);
    void onEngineStatus(Tavrix::OpenConnectConnection::Status status, quint64 epoch);

private:
    OpenConnectConnection();

    int startEngine();
    // The status the user is shown from now on.
    void publish(Status status);
    void reportEngine(Status status, quint64 epoch) { emit engineStatus(status, epoch, QPrivateSignal()); }
    void ensureWatches();
    void tunnelLost(const QString &reason, bool engineResuming);
    void onReconnectAttempt();
    void onReconnectFinished(bool ok, const QString &message);
    // Stops the running engine so that nothing it reports counts any more. forGood: also
    // external engines that a new connect would replace anyway.
    void stopEngineQuietly(bool forGood);
    void checkHealth();
    // One echo to an address on the tunnel's far side (none while one is under way).
    void startProbe(const QString &target);
    void onProbeFinished(bool answered);
    // Reads the WireGuard device off this thread; onWireGuardHealth follows here.
    void readWireGuardHealth();
    void onWireGuardHealth(const HelperProto::WireGuardStats &stats, const QString &error, quint64 epoch);
    // The proxies' check: one request through the running engine to the service.
    void checkProxy();
    void onProxyChecked(bool ok, const QString &error, quint64 epoch);
    void onNetworkChanged(const QString &what);
    void onResumed();
    int connectOpenVpn();
    int connectOpenConnect();
    void connectRunner(int type);
    template<typename Runner> void wireRunner(Runner *runner);
    void disconnectOpenVpn();
    void retireOutlineClient();
    void sendStop();
    void startSession();
    void releaseHandle();
    void runSession(quint64 generation);
    void sessionEnded(quint64 generation);
    void waitForEngineSteps(int timeoutMs);
    // Stops a running OpenConnect session and waits for its thread; true once it has ended.
    bool stopSessionAndWait(int timeoutMs);
    bool sessionThreadRunning() const;

    QString m_username;
    QString m_password;
    // Copies taken when a session starts; the session thread reads only these.
    QString m_sessionUsername;
    QString m_sessionPassword;
    std::shared_ptr<OpenConnectServer> m_server;
    intptr_t m_commandFd = -1;
    // The session's own thread: it holds it for the life of the tunnel, which on the global
    // pool would starve the account requests queued behind it.
    std::unique_ptr<QThread> m_sessionThread;
    Status m_status = IDLE;
    QString m_config;
    int m_type = 0;
    // Guarded: an OpenVPN runner deletes itself when its program ends.
    QPointer<OpenVpnRunner> m_openVpnRunner;
    QPointer<OutlineClient> m_outlineClient;
    QPointer<V2ray> m_v2ray;
    QPointer<Wireguard> m_wireguard;
    std::function<QString(int, int, int)> m_wireGuardConfigFetch;
    QPointer<XrayShadosocks> m_xrayShadowsocks;
    QString m_dns;
    // Made when a session starts (owner-only), removed when it ends.
    QString m_engineLogFolder;
    // Session thread only: CONNECTED has been reported for this session.
    bool m_tunnelReported = false;
    // Session thread only: the changed server key this session refused, for serverKeyChanged.
    struct RefusedServerKey
    {
        QString server;
        QString storedPin;
        QString offeredPin;
    };
    RefusedServerKey m_refusedServerKey;
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

    // Reconnecting. The epoch grows with every engine start and quiet stop; reports carry the
    // epoch of the engine they come from.
    Reconnector *m_reconnector = nullptr;
    NetworkWatch *m_networkWatch = nullptr;
    SleepWatch *m_sleepWatch = nullptr;
    quint64 m_engineEpoch = 0;
    // The epoch of the running OpenConnect session; its thread reads it.
    quint64 m_sessionEpoch = 0;
    // What the user was last shown.
    Status m_publicStatus = IDLE;
    // The user asked to disconnect (or never connected): an end is no loss.
    bool m_userStopped = true;
    bool m_connectedBeforeSleep = false;
    // An attempt waits for the previous OpenConnect session thread to end.
    bool m_attemptWaitsForSession = false;
    // The current attempt's engine reported its tunnel up; a check of the tunnel confirms it.
    bool m_attemptUp = false;
    int m_deadPeerSeconds = 2;
    // The running OpenConnect session's private folder, for this thread's checks (the
    // session thread clears its own copy when it ends).
    QString m_scriptStateFolder;
    QTimer m_healthTimer;
    // Since the last CONNECTED the user was shown.
    QElapsedTimer m_connectedClock;
    QProcess *m_probe = nullptr;
    int m_probeFailures = 0;
    // The probe's address answered since this engine started.
    bool m_probeAnswered = false;
    // The echo under way was sent while the tunnel was being brought back.
    bool m_probeWhileReconnecting = false;
    // OpenConnect tun device: made by the privileged helper when there is one (the session
    // thread uses it); a root client without the helper runs the tunnel script instead.
    std::unique_ptr<HelperTunDevice> m_helperTun;
    WireGuardLiveness m_wireGuardLiveness;
    QElapsedTimer m_livenessClock;
    bool m_healthReading = false;
    // The device was read since this engine started.
    bool m_healthReadable = false;
    int m_healthReadFailures = 0;
    // The proxies: a check under way, when the last one started, failures in a row.
    bool m_proxyCheckRunning = false;
    QElapsedTimer m_proxyCheckClock;
    int m_proxyFailures = 0;
    int m_proxyCheckIntervalMs = 2000;
    // The least time a check may take; a slow link gets three times its last answer's time.
    int m_proxyCheckTimeoutMs = 1000;
    qint64 m_proxyAnswerMs = 0;
    // The service answered through this engine since it started.
    bool m_proxyAnswered = false;
    QTimer m_proxyTimer;
};

} // namespace Tavrix
