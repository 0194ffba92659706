#pragma once

#include <QByteArray>
#include <QStringList>

namespace Tavrix {

// Resource paths of the eighteen Montserrat faces, in loading order.
QStringList applicationFontPaths();

// The bytes of one face: the program's own copy when it is stored uncompressed, else read from
// the resource (empty when missing).
QByteArray applicationFontData(const QString &path);

// Adds every face to the application's font database. True when all of them loaded.
bool loadApplicationFonts();

} // namespace Tavrix
