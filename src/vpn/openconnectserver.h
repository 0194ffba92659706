#pragma once

#include <QByteArray>
#include <QString>

namespace Tavrix {

// An OpenConnect server profile: the address to connect to and the server key remembered
// for it (trust on first use). The key lives only as long as the profile object.
class OpenConnectServer
{
public:
    OpenConnectServer() = default;
    explicit OpenConnectServer(const QString &host);

    QString host() const { return m_host; }
    void setHost(const QString &host);

    // Name of the group to pick in the server's group form; empty means "no preference".
    QString authGroup() const { return m_authGroup; }
    void setAuthGroup(const QString &group);

    // Library protocol name, "anyconnect" for every connect.
    QString protocol() const { return m_protocol; }
    void setProtocol(const QString &protocol);

    QByteArray serverKeyHash() const { return m_serverKeyHash; }
    // GnuTLS digest identifier of serverKeyHash; 0 when nothing is remembered.
    int serverKeyHashAlgorithm() const { return m_serverKeyHashAlgorithm; }
    void setServerKeyHash(int algorithm, const QByteArray &hash);

private:
    QString m_host;
    QString m_authGroup;
    QString m_protocol;
    QByteArray m_serverKeyHash;
    int m_serverKeyHashAlgorithm = 0;
};

} // namespace Tavrix
