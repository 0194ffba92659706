#pragma once

#include <QFuture>
#include <QObject>
#include <QStringList>

#include <atomic>

namespace Tavrix {

class EngineProcess;

// V2Ray through Xray: runs Xray on the server's own configuration and points the system
// proxy at Xray's local HTTP inbound. The connect step runs on a pool thread; the engine
// process belongs to the runner's thread, which must run an event loop. The runner reports
// `disconnected` at most once, and never leaves the system proxy pointing at an engine that
// is gone.
class V2ray : public QObject
{
    Q_OBJECT
public:
    explicit V2ray(QObject *parent = nullptr);
    // Stops the attached engine program if it still runs (and the system proxy with it).
    ~V2ray() override;

    // Makes a connect step that is still under way give up, and this runner silent: a stop
    // by another runner answers for it.
    void cancel();

    // disconnectServer() without waiting on the calling thread: the engine and the proxy are
    // stopped on the pool and disconnected follows on this object's thread. The future ends with the stop.
    QFuture<bool> disconnectServerLater();

signals:
    void connected();
    void connectingServer();
    void disconnected();

public slots:
    bool connectServer();
    void disconnectServer();
    void setNetworkProxy();
    void resetNetworkProxy();

private:
    bool fail(const QString &text);
    bool startEngine();
    void onEngineFinished();
    void reportDisconnected();
    static void stopEngineAndProxy();

    EngineProcess *m_process = nullptr;
    QStringList m_secrets;
    std::atomic_bool m_engineRunning{false};
    std::atomic_bool m_cancelled{false};
    std::atomic_bool m_reported{false};
    std::atomic_bool m_proxyOn{false};
};

} // namespace Tavrix
