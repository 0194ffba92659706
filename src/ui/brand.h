#pragma once

#include <QPixmap>
#include <QString>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QWidget;

class QLabel;
class QVariant;
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

// Names one of the shared looks of the application style sheet for `widget` (its "look"
// property): "filled", "outlined" and "link" buttons, "formField" line edits, "pageTitle",
// "itemTitle" and "caption" labels. Set it before the widget is first shown.
void setLook(QWidget *widget, const char *look);
// Sets a property that the application style sheet selects on (a state such as "connected")
// and re-applies the sheet to `widget` when the value changed.
void setStyleState(QWidget *widget, const char *property, const QVariant &value);
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

// A side page's frame: the header (back button, title named titleName) above a list that
// scrolls vertically. The page fills `items` (children of `content`).
struct ScrollingPage
{
    QScrollArea *scrollArea = nullptr;
    QWidget *content = nullptr;
    QVBoxLayout *items = nullptr;
};
ScrollingPage makeScrollingPage(QWidget *page, const QString &title, const QString &titleName);

} // namespace Brand
} // namespace Tavrix
