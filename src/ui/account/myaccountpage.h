#pragma once

#include "ui/placeholderpage.h"

class QLabel;
class QPushButton;

namespace Tavrix {

// The account page: type, credentials with copy buttons, and the expiry of a paid account or
// the offer to buy for a free one. Rebuilt from the account on every show.
class MyAccountPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit MyAccountPage(QWidget *parent = nullptr);

    // The user name as the page shows it: long names are cut so the card keeps its shape.
    static QString shownUserName(const QString &userName);

signals:
    void clickBack();
    void byNowButtonClick();
    void paymentHistoryButtonClick();

public slots:
    void on_btnBack_pressed();
    void on_btnCopyUser_pressed();
    void on_btnCopyPassword_pressed();
    void on_byNowButton_pressed();
    void on_pushButton_pressed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildForm();
    void refresh();

    QLabel *m_lblMyAccountLogo = nullptr;
    QLabel *m_lblAccountStatus = nullptr;
    QLabel *m_lblUserName = nullptr;
    QLabel *m_lblUserPassword = nullptr;
    QPushButton *m_btnCopyUser = nullptr;
    QPushButton *m_btnCopyPassword = nullptr;
    QWidget *m_packageBox = nullptr;
    QLabel *m_lblPackgeTitle = nullptr;
    QLabel *m_lblPackge = nullptr;
    QWidget *m_numberOfDays = nullptr;
    QLabel *m_lblDays = nullptr;
    QPushButton *m_byNowButton = nullptr;
    QPushButton *m_pushButton = nullptr;
};

} // namespace Tavrix
