#include "vpn/trustdatabase.h"

#include "vpn/enginelog.h"
#include "vpn/openconnectserver.h"
#include "vpn/serverkeystore.h"

namespace Tavrix {

TrustDatabase::TrustDatabase(std::shared_ptr<OpenConnectServer> profile, const QString &storePath)
    : m_profile(std::move(profile))
    , m_storePath(storePath.isEmpty() ? ServerKeyStore::defaultPath() : storePath)
{
}

bool TrustDatabase::accepts(Verdict verdict)
{
    return verdict == Verdict::Known || verdict == Verdict::FirstUse || verdict == Verdict::PinMatch;
}

TrustDatabase::Outcome TrustDatabase::check(const QByteArray &certificate)
{
    Outcome outcome;
    outcome.offeredPin = ServerKeyStore::certificatePin(certificate);
    if (outcome.offeredPin.isEmpty()) {
        engineLog(QStringLiteral("Could not verify certificate: its public key cannot be read"));
        return outcome;
    }
    outcome.server = m_profile ? ServerKeyStore::serverName(m_profile->host()) : QString();
    if (outcome.server.isEmpty()) {
        engineLog(QStringLiteral("Could not verify certificate: no server address to check it against"));
        return outcome;
    }

    if (!m_profile->pin().isEmpty()) {
        outcome.storedPin = ServerKeyStore::normalisePin(m_profile->pin());
        if (outcome.storedPin == outcome.offeredPin) {
            engineLog(QStringLiteral("The server's key matches the pin of its server entry"));
            outcome.verdict = Verdict::PinMatch;
        } else {
            engineLog(QStringLiteral("Not connecting: the key of %1 does not match the pin of its server entry "
                                     "(pin %2, offered %3)")
                          .arg(outcome.server,
                               outcome.storedPin.isEmpty() ? QStringLiteral("unreadable") : outcome.storedPin,
                               outcome.offeredPin));
            outcome.verdict = Verdict::PinMismatch;
        }
        return outcome;
    }

    ServerKeyStore store(m_storePath);
    outcome.storedPin = store.pin(outcome.server);
    if (outcome.storedPin.isEmpty()) {
        engineLog(QStringLiteral("peer is unknown"));
        engineLog(QStringLiteral("saving peer's public key"));
        QString error;
        if (!store.setPin(outcome.server, outcome.offeredPin, &error))
            engineLog(QStringLiteral("Could not store certificate: ") + error);
        outcome.verdict = Verdict::FirstUse;
    } else if (outcome.storedPin == outcome.offeredPin) {
        outcome.verdict = Verdict::Known;
    } else {
        engineLog(QStringLiteral("peer's key has changed!"));
        engineLog(QStringLiteral("Not connecting: the key of %1 differs from the one stored at the first connection "
                                 "(stored %2, offered %3)")
                      .arg(outcome.server, outcome.storedPin, outcome.offeredPin));
        outcome.verdict = Verdict::Changed;
    }
    return outcome;
}

int TrustDatabase::checkServerCertificate(const QByteArray &certificate, Outcome *outcome)
{
    const Outcome result = check(certificate);
    if (outcome)
        *outcome = result;
    return accepts(result.verdict) ? 0 : -1;
}

} // namespace Tavrix
