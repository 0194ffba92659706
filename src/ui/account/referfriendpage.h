#pragma once

#include "ui/placeholderpage.h"

class QLabel;
class QLineEdit;

namespace Tavrix {

class AccountRequest;
class SocalMediaWidget;

// The user's referral code with its copy and share buttons, loaded from the service every
// time the page is shown; a way on to redeeming somebody else's code.
class ReferFriendPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit ReferFriendPage(QWidget *parent = nullptr);

    AccountRequest *request() const { return m_request; }
    SocalMediaWidget *sharePopup() const { return m_share; }

signals:
    void clickBack();
    void redeemReferalClick();

public slots:
    void on_btnBack_clicked();
    void on_btnRedeemReferal_pressed();
    void on_btnSubscribe_3_pressed();
    void on_btnShare_pressed();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void load();
    void placeSharePopup();

    QWidget *m_loader = nullptr;
    QWidget *m_info = nullptr;
    QWidget *m_controls = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_message = nullptr;
    QLineEdit *m_code = nullptr;
    QPushButton *m_shareButton = nullptr;
    SocalMediaWidget *m_share = nullptr;
    AccountRequest *m_request = nullptr;
};

} // namespace Tavrix
