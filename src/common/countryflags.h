#pragma once

#include <QString>
#include <QVector>

namespace Tavrix {

// One country of the flag table.
struct CountryFlag
{
    int code;            // ISO 3166-1 numeric
    const char *picture; // ISO 3166-1 alpha-2 of the country whose flag the picture shows
    const char *name;    // resource name under ":/assets/flags/" (without ".png")
};

// The whole table, ordered by code. The resource build makes one picture per name from it.
const QVector<CountryFlag> &countryFlags();

// "flag_..." for a known country code, else the empty text.
QString flagName(int countryCode);

// Category rows of the server list.
enum ServerCategory {
    FavouriteCategory = 1000,
    GamingCategory = 1001,
    HighSpeedCategory = 1002,
    StreamingCategory = 1003,
    AdBlockerCategory = 1004,
    LoyalCategory = 1005,
    V2RayCategory = 1006,
};

// Resource path of a category icon, of the logo (-1) or of a country's flag (no suffix:
// the image loader finds the ".png"). An unknown country gives ":/assets/flags/".
QString iconPath(int code);

} // namespace Tavrix
