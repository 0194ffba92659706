#pragma once

#include <QMessageBox>
#include <QPointer>

namespace Tavrix {

// A plain message box in the house look. Start-up registers the main window as the parent
// of every box created without one; overlays cover that same window.
class MsgBox : public QMessageBox
{
    Q_OBJECT
public:
    explicit MsgBox(QWidget *parent = nullptr);

    static void setParentWindow(QWidget *window);
    static QWidget *parentWindow();

    // A modal warning with an OK button; returns when it is closed.
    static void warning(const QString &title, const QString &text, const QString &informativeText = {});

private:
    static QPointer<QWidget> s_parentWindow;
};

} // namespace Tavrix
