#pragma once

#include "ui/placeholderpage.h"

class QLineEdit;

namespace Tavrix {

class AccountRequest;

// Submits an e-mail address for the service's dark-web exposure check; the result arrives by
// e-mail.
class DarkWebMonitoringPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit DarkWebMonitoringPage(QWidget *parent = nullptr);

    AccountRequest *request() const { return m_request; }

signals:
    void clickBack();

public slots:
    void on_btnBack_pressed();
    void on_btnVerify_pressed();

private:
    QLineEdit *m_email = nullptr;
    QPushButton *m_verify = nullptr;
    AccountRequest *m_request = nullptr;
};

} // namespace Tavrix
