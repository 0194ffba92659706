#pragma once

#include <QByteArray>
#include <QString>

namespace Tavrix {

// Rewrites the font declarations of a style sheet for this client's rendering: sizes of
// 16 px become 14 px and 24 px become 22 px, every numeric font weight becomes 500, and each
// rewritten declaration is written with one blank after the colon.
QByteArray scaleStyleSheetFonts(const QByteArray &sheet);

// Reads ":/assets/style.qss" and scales it. False (with a warning) when it cannot be read.
bool loadStyleSheet(QString *sheet);

} // namespace Tavrix
