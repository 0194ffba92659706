#pragma once

#include <QWidget>

class QScrollArea;

namespace Tavrix {

// The side-panel menu of the hub: a scrollable column of entries, each asking the hub for a
// page (or opening a web page of the service).
class MenuPage : public QWidget
{
    Q_OBJECT
public:
    explicit MenuPage(QWidget *parent = nullptr);

signals:
    void logoutButtonClick();
    void backClick();
    void myAccountButtonClick();
    void supportButtonClick();
    void toolsButtonClick();
    void addonsButtonClick();
    void tavrixMoreButtonClick();
    void aboutUsButtonClick();
    void referButtonClick();
    void settingButtonClick();
    void deviceButtonClick();
    void premiumButtonClick();
    void redeemVoucherButtonClick();

public slots:
    void on_btnBack_pressed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void openRateUs();
    // Emits the request for a page of the service, unless the kill switch holds it back.
    void openServicePage(void (MenuPage::*request)());

    QScrollArea *m_scrollArea;
};

} // namespace Tavrix
