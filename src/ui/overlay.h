#pragma once

#include <QWidget>

namespace Tavrix {

// A dimming layer over the whole main window while a popup is shown on top of it. It
// removes itself when the popup is hidden or destroyed.
class Overlay : public QWidget
{
    Q_OBJECT
public:
    explicit Overlay(QWidget *mainWindow);

    // Follows `popup`: the overlay goes away with it.
    void follow(QWidget *popup);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// Shows `widget` above an Overlay on the registered main window (MsgBox::setParentWindow);
// without a registered window it only shows the widget.
void showWithOverlay(QWidget *widget);

} // namespace Tavrix
