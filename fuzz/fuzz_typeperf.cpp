// The traffic counters' output ("typeperf" CSV): read line by line as the tools page does and
// as one block of whole lines as the traffic indicator does, each value shown as a byte rate.
#include <QStringList>

#include <cstdint>

#include "common/bytesize.h"
#include "fuzzsupport.h"

TAVRIX_FUZZ_INIT

namespace {

void show(const QString &text)
{
    double value = 0;
    if (Tavrix::lastCounterValue(text, &value))
        Tavrix::normalizeByteSize(static_cast<uint64_t>(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString output = QString::fromLocal8Bit(TavrixFuzz::bytes(data, size));
    for (const QString &line : output.split(QLatin1Char('\n')))
        show(line.trimmed());
    show(output.trimmed());
    return 0;
}
