#pragma once

#include "ui/placeholderpage.h"

class QLabel;
class QMovie;
class QVBoxLayout;

namespace Tavrix {

class AccountRequest;

// The account's purchases, asked of the service on every show. The request runs off the GUI
// thread while the spinner turns; a refusal is shown in an "Ok" box and the page goes back.
class PaymentHistory : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit PaymentHistory(QWidget *parent = nullptr);
    ~PaymentHistory() override;

    bool isLoading() const;

signals:
    void btnBackPressed();
    // The request has ended and its result is on the page.
    void loaded();

public slots:
    void on_btnBack_pressed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void load();
    void onLoaded(int result, const QString &message);
    void stopSpinner();

    AccountRequest *m_request = nullptr;
    QLabel *m_lalMessage = nullptr;
    QLabel *m_spinner = nullptr;
    QMovie *m_movie = nullptr;
    QWidget *m_list = nullptr;
    QVBoxLayout *m_rows = nullptr;
};

} // namespace Tavrix
