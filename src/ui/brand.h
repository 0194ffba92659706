#pragma once

#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace Tavrix {

// The house look shared by the window's pages: colours, fonts and the few button styles.
namespace Brand {

extern const char *const red;        // #BF1E2E
extern const char *const redHover;   // #ED1C24
extern const char *const text;       // #434343
extern const char *const mutedText;  // #7A7A7A
extern const char *const line;       // #E4E4E4

QString labelStyle(int pixelSize, int weight, const char *colour = text);
QString filledButtonStyle();
QString outlinedButtonStyle();
QString linkButtonStyle();
QString lineEditStyle();

// Paints the window's plain background picture over `widget` (white when it is missing),
// so that a page looks the same whatever the window's own background shows.
void paintPlainBackground(QWidget *widget);

// A page header: "Back" on the left, the title in the middle.
QPushButton *makeBackButton(QWidget *parent);
QLabel *makeTitle(const QString &text, QWidget *parent);

} // namespace Brand
} // namespace Tavrix
