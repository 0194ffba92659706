#pragma once

#include <QAccessible>
#include <QString>

class QWidget;

namespace Tavrix {

// What screen readers and keyboard users need from widgets that Qt does not describe by
// itself: the client's clickable cards and rows are plain widgets that react to a mouse press.
namespace Accessibility {

// A widget that reacts to a mouse press gets a name and a role for screen readers, a place in
// the Tab order, and Space, Enter and the screen reader's "press" do what a click does (the
// same mouse press, so the same code runs).
void makeClickable(QWidget *widget, const QString &name, QAccessible::Role role = QAccessible::Button);

// For a clickable of role CheckBox: the state a screen reader reports.
void setChecked(QWidget *widget, bool checked);

// Tells screen readers that the widget's text changed and is worth saying now (the
// protection status).
void announce(QWidget *widget);

// Draws the keyboard focus visibly (the ring "#focusRing" of the style sheet) around whatever
// widget has it. Once per application.
void showKeyboardFocus();

} // namespace Accessibility

} // namespace Tavrix
