#pragma once

#include <QObject>

namespace Tavrix {

// Outline: a Shadowsocks proxy turned into a system-wide tunnel by the tun2socks engine,
// with the route scripts run around it.
class OutlineClient : public QObject
{
    Q_OBJECT
public:
    explicit OutlineClient(QObject *parent = nullptr);
    ~OutlineClient() override;

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
};

} // namespace Tavrix
