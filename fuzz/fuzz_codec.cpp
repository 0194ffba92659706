// The value codec: any stored or received text decodes without harm, and encoding then
// decoding gives back the text for every key.
#include "common/crypto.h"
#include "fuzzsupport.h"

TAVRIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString keys[] = {QStringLiteral("Rk(Vbnwqeo"), QStringLiteral("Hyxp3(lte"), QString(),
                                   QStringLiteral("k")};
    const QString text = QString::fromUtf8(TavrixFuzz::bytes(data, size));
    for (const QString &key : keys) {
        Tavrix::decode(text, key);
        if (Tavrix::decode(Tavrix::encode(text, key), key) != text)
            __builtin_trap();
    }
    return 0;
}
