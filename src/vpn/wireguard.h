#pragma once

#include <QObject>
#include <QString>

class QProcess;

namespace Tavrix {

// WireGuard: fetches the tunnel configuration for the server from the account service and
// runs the WireGuard client program on it.
class Wireguard : public QObject
{
    Q_OBJECT
public:
    explicit Wireguard(QObject *parent = nullptr);
    // Stops the WireGuard client program, as a user disconnect does.
    ~Wireguard() override;

signals:
    void connected();
    void connectingServer();
    void disconnected();
    void processExit();
    void transfer(quint64 down, quint64 up);
    void tun2socksStarted();
    void routeConfiged();

public slots:
    bool connectServer();
    void disconnectServer();
    void startWireguardProcess(const QString &configFilePath, const QString &command);
    void onProcessFinished(int exitCode);
    void killWindowsProcess();

private:
    QProcess *process = nullptr;
};

} // namespace Tavrix
