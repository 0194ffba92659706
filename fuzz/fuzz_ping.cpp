// The round trip read back from ping's summary, in either form.
#include "fuzzsupport.h"
#include "platform/ping.h"

TAVRIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int ms = Tavrix::Ping::averageMs(QString::fromUtf8(TavrixFuzz::bytes(data, size)));
    if (ms < -1)
        __builtin_trap();
    return 0;
}
