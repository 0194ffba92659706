#pragma once

#include <QByteArray>
#include <QString>

namespace Tavrix {

// An OpenConnect server profile: the address to connect to and, when the server entry names
// one, the pin its key must match. Keys met on first use are kept in the ServerKeyStore.
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

    // The server entry's "pin" as it came (SHA-256 of the public key, "pin-sha256:..." or
    // Base64); empty when the entry has none.
    QString pin() const { return m_pin; }
    void setPin(const QString &pin);

private:
    QString m_host;
    QString m_authGroup;
    QString m_protocol;
    QString m_pin;
};

} // namespace Tavrix
