#pragma once

#include <QStringList>

namespace Tavrix {

// Resource paths of the eighteen Montserrat faces, in loading order.
QStringList applicationFontPaths();

// Adds every face to the application's font database. True when all of them loaded.
bool loadApplicationFonts();

} // namespace Tavrix
