#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace Tavrix {

class OpenConnectServer;

// Decides whether an OpenConnect server whose certificate no public authority vouches for is
// the server it claims to be, before anything is sent to it. (A certificate that the
// system's authorities vouch for, for the server's name, is accepted by the library itself
// and never comes here, unless the server entry carries a pin.)
//
// - A pin in the server entry decides alone: the key must match it.
// - Otherwise the key stored for the server's address must match. The first contact stores
//   it; a different key is refused, and the user decides whether to trust it.
class TrustDatabase
{
public:
    enum class Verdict {
        Known,       // matches the stored key
        FirstUse,    // nothing stored yet: stored now
        PinMatch,    // matches the server entry's pin
        Changed,     // differs from the stored key: refused
        PinMismatch, // differs from the pin (or the pin is unreadable): refused
        Unreadable   // no key or no server address to check: refused
    };

    struct Outcome
    {
        Verdict verdict = Verdict::Unreadable;
        QString server;     // the store's name of the server ("host:port")
        QString storedPin;  // the key stored, or the entry's pin
        QString offeredPin; // the key the server presented
    };

    explicit TrustDatabase(std::shared_ptr<OpenConnectServer> profile, const QString &storePath = QString());

    // Checks the certificate (DER), logging the verdict and storing the key on first use.
    Outcome check(const QByteArray &certificate);
    // The same, as the library's answer: 0 to accept the server, -1 to reject it.
    int checkServerCertificate(const QByteArray &certificate, Outcome *outcome = nullptr);

    static bool accepts(Verdict verdict);

private:
    std::shared_ptr<OpenConnectServer> m_profile;
    QString m_storePath;
};

} // namespace Tavrix
