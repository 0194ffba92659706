#pragma once

#include <QObject>
#include <QString>

class QProcess;

namespace Tavrix {

// Shadowsocks through Xray: builds the Xray configuration for the server and points the
// system proxy at Xray's local HTTP inbound.
class XrayShadosocks : public QObject
{
    Q_OBJECT
public:
    explicit XrayShadosocks(QObject *parent = nullptr);

signals:
    void connected();
    void connectingServer();
    void disconnected();
    void processExit();
    void transfer(quint64 down, quint64 up);
    void tun2socksStarted();
    void routeConfiged();

public slots:
    bool conntShadosocksServer();
    void disconnectServer();
    void setNetworkProxy();
    void createConfigFile(const QString &address, int port, const QString &password, const QString &method);
    QString getResourcesPath();
    QString getCongigPath();

private:
    QString address;
    int port = 0;
    QString password;
    QString method;
    QProcess *process = nullptr;
};

} // namespace Tavrix
