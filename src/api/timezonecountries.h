#pragma once

#include <QVector>

namespace Tavrix {

struct TimeZoneCountry
{
    const char *zone;    // IANA name, e.g. "Asia/Dhaka"
    const char *country; // ISO 3166 alpha-2 code, e.g. "BD"
};

// The zone-to-country table behind the configuration's country lookup (417 zones).
const QVector<TimeZoneCountry> &timeZoneCountries();

} // namespace Tavrix
