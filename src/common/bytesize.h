#pragma once

#include <QString>

#include <cstdint>

namespace Tavrix {

// A byte count as the traffic figures show it: "512 B" up to 1023, then one decimal and the
// binary unit ("1.5 KB", "2.0 MB").
QString normalizeByteSize(uint64_t bytes);

// The last value of a "typeperf" CSV line (the last interface it lists), as bytes per
// second; false for the header line and anything that is not a number of bytes (negative,
// "nan", infinite or beyond 64 bits).
bool lastCounterValue(const QString &line, double *value);

} // namespace Tavrix
