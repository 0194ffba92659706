#include "app/fonts.h"

#include <QDebug>
#include <QFile>
#include <QFontDatabase>
#include <QResource>

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

QByteArray applicationFontData(const QString &path)
{
    // The faces are stored uncompressed in the program: handed over as they lie there, they
    // cost no heap, and only the pages FreeType really reads become resident. Added by file
    // name instead, Qt reads a heap copy of every face at start and another one for each face
    // it draws with (about 6 MB for the eighteen).
    const QResource resource(path);
    if (resource.isValid() && resource.compressionAlgorithm() == QResource::NoCompression && resource.size() > 0)
        return QByteArray::fromRawData(reinterpret_cast<const char *>(resource.data()), int(resource.size()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool loadApplicationFonts()
{
    qDebug().noquote() << "Loading application fonts...";
    int succeeded = 0;
    int failed = 0;
    for (const QString &path : applicationFontPaths()) {
        const QByteArray data = applicationFontData(path);
        if (data.isEmpty() || QFontDatabase::addApplicationFontFromData(data) < 0) {
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
