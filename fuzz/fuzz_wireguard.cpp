// A WireGuard configuration from the service: decoded with the response key as the connect
// step does (and taken as it is), checked, and its tunnel address read.
#include <QRegularExpression>

#include "api/apirequest.h"
#include "common/crypto.h"
#include "fuzzsupport.h"
#include "vpn/wireguard.h"

TAVRIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace Tavrix;
    // The refusal reasons are fixed texts with at most a line number: never a piece of the
    // configuration, which holds the private key.
    static const QRegularExpression fixedReason(
        QStringLiteral("^(empty|a \\[Peer\\] without a valid PublicKey|unknown section on line \\d+|line \\d+ is not a "
                       "setting of a section|no \\[Interface\\] section|more than one \\[Interface\\] section|no "
                       "\\[Peer\\] section|no valid PrivateKey|no Address)$"));
    const QByteArray input = TavrixFuzz::bytes(data, size);
    for (const QString &text : {decode(QString::fromUtf8(input), ApiRequest::responseKey), QString::fromUtf8(input)}) {
        QString reason;
        const bool usable = Wireguard::isConfiguration(text, &reason);
        const QString address = Wireguard::tunnelAddress(text);
        if (!usable && !fixedReason.match(reason).hasMatch())
            __builtin_trap();
        // An accepted configuration names the address the connect step waits for.
        if (usable && address.isEmpty())
            __builtin_trap();
    }
    return 0;
}
