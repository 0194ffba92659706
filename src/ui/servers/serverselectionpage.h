#pragma once

#include <QWidget>

namespace Tavrix {

// The server list of the signed-in user. This minimal version only carries the signals
// and the menu button the window and the hub wire; the list itself comes with its own work.
class ServerSelectionPage : public QWidget
{
    Q_OBJECT
public:
    explicit ServerSelectionPage(QWidget *parent = nullptr);

signals:
    void connectUiAndConnect();
    void logout();
    void paymentPageRequest();
    void filterChanged();
    void updateHighspeedButton();
    void menueButtonClick();
    void autoConncet();

public slots:
    void on_btnManu_pressed();

protected:
    void showEvent(QShowEvent *event) override;
};

} // namespace Tavrix
