#include "app/fonts.h"

#include <QDebug>
#include <QFontDatabase>

namespace Tavrix {

QStringList applicationFontPaths()
{
    static const char *const styles[] = {
        "Black",        "BlackItalic",      "Bold",     "BoldItalic",     "ExtraBold",   "ExtraBoldItalic",
        "ExtraLight",   "ExtraLightItalic", "Italic",   "Light",          "LightItalic", "Medium",
        "MediumItalic", "Regular",          "SemiBold", "SemiBoldItalic", "Thin",        "ThinItalic",
    };
    QStringList paths;
    for (const char *style : styles)
        paths << QStringLiteral(":/assets/fonts/Montserrat-%1.ttf").arg(QLatin1String(style));
    return paths;
}

bool loadApplicationFonts()
{
    qDebug().noquote() << "Loading application fonts...";
    int succeeded = 0;
    int failed = 0;
    for (const QString &path : applicationFontPaths()) {
        if (QFontDatabase::addApplicationFont(path) < 0) {
            qWarning().noquote() << "  Failed to load font:" << path;
            ++failed;
        } else {
            ++succeeded;
        }
    }
    qDebug().noquote() << "Font loading complete:" << succeeded << "succeeded," << failed << "failed";
    return failed == 0;
}

} // namespace Tavrix
