// The file of stored OpenConnect server keys: whatever it holds (damaged, planted or written by
// another version), reading it gives well-formed entries only, and what is written back reads
// back the same.
#include "fuzzsupport.h"
#include "vpn/serverkeystore.h"

TAVRIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using Tavrix::ServerKeyStore;
    const QByteArray input = TavrixFuzz::bytes(data, size);
    const QMap<QString, QString> entries = ServerKeyStore::parse(input);
    if (entries.size() > ServerKeyStore::maxEntries)
        __builtin_trap();
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        // Every entry is a server name and a pin as the client itself writes them.
        if (ServerKeyStore::serverName(it.key()) != it.key() || ServerKeyStore::normalisePin(it.value()) != it.value())
            __builtin_trap();
    }
    if (ServerKeyStore::parse(ServerKeyStore::serialise(entries)) != entries)
        __builtin_trap();
    // Addresses and pins of server entries come from the service.
    const QString text = QString::fromUtf8(input);
    const QString name = ServerKeyStore::serverName(text);
    if (!name.isEmpty() && ServerKeyStore::serverName(name) != name)
        __builtin_trap();
    const QString pin = ServerKeyStore::normalisePin(text);
    if (!pin.isEmpty() && ServerKeyStore::normalisePin(pin) != pin)
        __builtin_trap();
    ServerKeyStore::certificatePin(input);
    return 0;
}
