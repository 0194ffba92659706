#include "common/bytesize.h"

#include <QStringList>

namespace Tavrix {

QString normalizeByteSize(uint64_t bytes)
{
    if (bytes <= 1023)
        return QStringLiteral("%1 B").arg(bytes);
    // The exponent by whole divisions, exact for every 64-bit count (a floating-point
    // logarithm quotient can round across a power of 1024).
    int exponent = 0;
    uint64_t rest = bytes;
    while (rest >= 1024 && exponent < 6) {
        rest /= 1024;
        ++exponent;
    }
    double value = static_cast<double>(bytes);
    for (int i = 0; i < exponent; ++i)
        value /= 1024.0;
    return QStringLiteral("%1 %2B").arg(value, 0, 'f', 1).arg(QLatin1Char("KMGTPE"[exponent - 1]));
}

bool lastCounterValue(const QString &line, double *value)
{
    QString last = line.split(QLatin1Char(',')).last();
    last.remove(QLatin1Char('"'));
    bool ok = false;
    const double number = last.trimmed().toDouble(&ok);
    // "nan", "inf" and rates past 64 bits parse as numbers but are no byte count: converting
    // them to one is undefined.
    if (!ok || !(number >= 0) || number >= 18446744073709551616.0)
        return false;
    *value = number;
    return true;
}

} // namespace Tavrix
