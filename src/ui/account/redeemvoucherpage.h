#pragma once

#include "ui/placeholderpage.h"

class QLineEdit;

namespace Tavrix {

class AccountRequest;

// Redeeming a voucher code: the code goes to the service as it was typed, and the service's
// answer is shown, whatever it was.
class RedeemVoucherPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit RedeemVoucherPage(QWidget *parent = nullptr);

    AccountRequest *request() const { return m_request; }

signals:
    void clickBack();

public slots:
    void on_btnBack_pressed();
    void on_btnSubmit_pressed();

private:
    QLineEdit *m_code = nullptr;
    QPushButton *m_submit = nullptr;
    AccountRequest *m_request = nullptr;
};

} // namespace Tavrix
