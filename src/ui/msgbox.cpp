#include "ui/msgbox.h"

namespace Tavrix {

QPointer<QWidget> MsgBox::s_parentWindow;

MsgBox::MsgBox(QWidget *parent)
    : QMessageBox(parent ? parent : s_parentWindow.data())
{
}

void MsgBox::setParentWindow(QWidget *window)
{
    s_parentWindow = window;
}

QWidget *MsgBox::parentWindow()
{
    return s_parentWindow.data();
}

void MsgBox::warning(const QString &title, const QString &text, const QString &informativeText)
{
    MsgBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(title);
    box.setText(text);
    if (!informativeText.isEmpty())
        box.setInformativeText(informativeText);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace Tavrix
