// A WireGuard configuration from the service: decoded with the response key as the connect
// step does (and taken as it is), checked, and its tunnel address read.
#include <QRegularExpression>

#include <algorithm>

#include "api/apirequest.h"
#include "common/crypto.h"
#include "fuzzsupport.h"
#include "vpn/wireguard.h"

TAVRIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace Tavrix;
    static const QRegularExpression keyLine(QStringLiteral("(?im)^\\s*(?:private|preshared)key\\s*=\\s*(\\S{4,})"));
    const QByteArray input = TavrixFuzz::bytes(data, size);
    for (const QString &text : {decode(QString::fromUtf8(input), ApiRequest::responseKey), QString::fromUtf8(input)}) {
        QString reason;
        const bool usable = Wireguard::isConfiguration(text, &reason);
        const QString address = Wireguard::tunnelAddress(text);
        // The reason goes to the log and the user: a fixed sentence, never a piece of a key.
        if (!usable && !reason.startsWith(QLatin1String("The WireGuard configuration was refused: ")))
            __builtin_trap();
        // A value counts as key material when it could not be a word of the fixed sentence
        // (a value "vateKey" is in "PrivateKey"): eight characters or more, not letters only.
        for (auto it = keyLine.globalMatch(text); !usable && it.hasNext();) {
            const QString value = it.next().captured(1);
            const bool keyLike =
                value.size() >= 8 && std::any_of(value.cbegin(), value.cend(), [](QChar c) { return !c.isLetter(); });
            if (keyLike && reason.contains(value))
                __builtin_trap();
        }
        // An accepted configuration names the address the connect step waits for.
        if (usable && address.isEmpty())
            __builtin_trap();
    }
    return 0;
}
