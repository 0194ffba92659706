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
    static const QRegularExpression keyLine(QStringLiteral("(?im)^\\s*(?:private|preshared)key\\s*=\\s*(\\S{4,})"));
    const QByteArray input = TavrixFuzz::bytes(data, size);
    for (const QString &text : {decode(QString::fromUtf8(input), ApiRequest::responseKey), QString::fromUtf8(input)}) {
        QString reason;
        const bool usable = Wireguard::isConfiguration(text, &reason);
        const QString address = Wireguard::tunnelAddress(text);
        // The reason goes to the log and the user: a fixed sentence, never a piece of a key.
        if (!usable && !reason.startsWith(QLatin1String("The WireGuard configuration was refused: ")))
            __builtin_trap();
        for (auto it = keyLine.globalMatch(text); !usable && it.hasNext();) {
            if (reason.contains(it.next().captured(1)))
                __builtin_trap();
        }
        // An accepted configuration names the address the connect step waits for.
        if (usable && address.isEmpty())
            __builtin_trap();
    }
    return 0;
}
