#pragma once

#include <QPixmap>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace Tavrix {

// The house look shared by the window's pages: colours, fonts and the few button styles.
namespace Brand {

extern const char *const red;       // #BF1E2E
extern const char *const redHover;  // #ED1C24
extern const char *const text;      // #434343
extern const char *const mutedText; // #7A7A7A
extern const char *const line;      // #E4E4E4

// "font-weight: N" for a CSS weight (100-900) that picks that face under Qt 5.
QString fontWeight(int cssWeight);
QString labelStyle(int pixelSize, int weight, const char *colour = text);
QString filledButtonStyle();
QString outlinedButtonStyle();
QString linkButtonStyle();
QString lineEditStyle();
// Keeps the field's placeholder in the muted grey: style sheets that set a text colour give
// the placeholder that colour too, and an empty form would then look filled in.
void mutePlaceholder(QLineEdit *edit);

// Paints the window's plain background picture over `widget` (white when it is missing),
// so that a page looks the same whatever the window's own background shows.
void paintPlainBackground(QWidget *widget);

// Lets go of the picture paintPlainBackground keeps for the pages' size (once they are hidden).
void releasePlainBackground();

// Decodes a picture without keeping it in Qt's pixmap cache: for large pictures that are
// drawn scaled and whose full-size copy is never needed again.
QPixmap uncachedPixmap(const QString &path);

// A page header: "Back" on the left, the title in the middle.
QPushButton *makeBackButton(QWidget *parent);
QLabel *makeTitle(const QString &text, QWidget *parent);

} // namespace Brand
} // namespace Tavrix
