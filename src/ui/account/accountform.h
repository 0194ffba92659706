#pragma once

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace Tavrix {

// The pieces the account pages are built from; their looks are in style.qss by object name.
namespace AccountForm {

// A centred picture of `side` pixels ("lblPicture").
QLabel *picture(const QString &resource, int side, QWidget *parent);
// A centred, word-wrapped label with the given object name.
QLabel *text(const QString &content, const char *objectName, QWidget *parent);
// The code / address field "editCode".
QLineEdit *codeField(const QString &placeholder, QWidget *parent);
// A filled red button.
QPushButton *primaryButton(const QString &content, const char *objectName, QWidget *parent);
// "loaderWidget": a spinner button "btnloader" over "Loading…", hidden.
QWidget *loader(QWidget *parent);

} // namespace AccountForm
} // namespace Tavrix
