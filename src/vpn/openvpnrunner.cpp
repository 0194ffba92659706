#include "vpn/openvpnrunner.h"

#include "vpn/enginelog.h"

OpenVpnRunner::OpenVpnRunner(QObject *parent)
    : QObject(parent)
{
}

bool OpenVpnRunner::connect(const QString &config, const QString &username, const QString &password)
{
    emit connecting();
    m_username = username;
    m_password = password;
    Q_UNUSED(config)
    Tavrix::engineLog(QStringLiteral("OpenVPN is not available in this build."));
    disconnect();
    return false;
}

void OpenVpnRunner::disconnect()
{
    if (!m_disconnectReported) {
        m_disconnectReported = true;
        emit disconnected();
    }
    if (!m_process)
        deleteLater();
}

void OpenVpnRunner::managmentReadLine()
{
}
