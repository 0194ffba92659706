#pragma once

#include <QObject>
#include <QString>

class QProcess;
class QTcpServer;
class QTcpSocket;
class QTemporaryFile;

// Runs one OpenVPN tunnel: the OpenVPN program driven through its management interface.
// The controller creates one per connect; the runner deletes itself when the program ends.
class OpenVpnRunner : public QObject
{
    Q_OBJECT
public:
    explicit OpenVpnRunner(QObject *parent = nullptr);

    QProcess *process() const { return m_process; }
    QTcpServer *managementServer() const { return m_managementServer; }
    QTcpSocket *managementSocket() const { return m_managementSocket; }
    bool isDisconnectReported() const { return m_disconnectReported; }
    void setDisconnectReported(bool reported) { m_disconnectReported = reported; }

signals:
    void connected();
    void connecting();
    void disconnected();
    void processExit();
    void transfer(quint64 down, quint64 up);

public slots:
    bool connect(const QString &config, const QString &username, const QString &password);
    void disconnect();
    void managmentReadLine();

private:
    QString m_username;
    QString m_password;
    QProcess *m_process = nullptr;
    QTcpServer *m_managementServer = nullptr;
    QTcpSocket *m_managementSocket = nullptr;
    QTemporaryFile *m_configFile = nullptr;
    bool m_disconnectReported = false;
};
