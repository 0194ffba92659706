#pragma once

#include <QDialog>

#include "ui/placeholderpage.h"

class QLineEdit;

namespace Tavrix {

class AccountRequest;

// Shown after a referral code was redeemed; stays until the user answers it.
class CongratulationsPopup : public QDialog
{
    Q_OBJECT
public:
    explicit CongratulationsPopup(QWidget *parent = nullptr);

signals:
    void connectToReferPage();

public slots:
    void on_btnNotNow_pressed();
    void on_btnReferMore_pressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// Redeeming somebody else's referral code.
class ReferralRedeem : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit ReferralRedeem(QWidget *parent = nullptr);

    AccountRequest *request() const { return m_request; }

signals:
    void clickBack();
    void refresh();

public slots:
    void on_btnBack_pressed();
    void on_btnSubmit_pressed();

private:
    QLineEdit *m_code = nullptr;
    QPushButton *m_submit = nullptr;
    AccountRequest *m_request = nullptr;
};

} // namespace Tavrix
