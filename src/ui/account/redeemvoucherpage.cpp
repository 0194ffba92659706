#include "ui/account/redeemvoucherpage.h"

#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "api/apirequest.h"
#include "ui/account/accountform.h"
#include "ui/account/accountrequest.h"

namespace Tavrix {

RedeemVoucherPage::RedeemVoucherPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Redeem Voucher"), 11, parent)
    , m_request(new AccountRequest(this))
{
    QVBoxLayout *column = body();
    column->addSpacing(24);
    column->addWidget(AccountForm::picture(QStringLiteral(":/assets/redeem voucher.png"), 88, this));
    column->addSpacing(8);
    column->addWidget(AccountForm::text(QStringLiteral("Redeem Your Voucher"), "lblTitle", this));
    column->addWidget(
        AccountForm::text(QStringLiteral("Enter the voucher code you received to add Premium time to your account."),
                          "lblMessage", this));
    column->addSpacing(16);
    m_code = AccountForm::codeField(QStringLiteral("Enter Voucher Code"), this);
    column->addWidget(m_code);
    column->addSpacing(8);
    m_submit = AccountForm::primaryButton(QStringLiteral("Subscribe"), "btnSubmit", this);
    column->addWidget(m_submit);
    column->addStretch(1);

    connect(backButton(), &QPushButton::pressed, this, &RedeemVoucherPage::on_btnBack_pressed);
    connect(m_submit, &QPushButton::pressed, this, &RedeemVoucherPage::on_btnSubmit_pressed);
    connect(m_code, &QLineEdit::returnPressed, this, &RedeemVoucherPage::on_btnSubmit_pressed);
}

void RedeemVoucherPage::on_btnBack_pressed()
{
    emit clickBack();
}

void RedeemVoucherPage::on_btnSubmit_pressed()
{
    // An empty field still asks the service, which answers with its own message.
    const QString code = m_code->text();
    QPointer<QLineEdit> field = m_code;
    m_request->start(
        m_submit, [code] { return ApiRequest::instance()->redeemVoucher(code); },
        [this, field](const AccountRequest::Outcome &outcome) {
            qDebug() << "response::::" << outcome.result;
            m_submit->setText(QStringLiteral("Subscribe"));
            showAnswerBox(outcome.message, [field] {
                if (field)
                    field->clear();
            });
        });
}

} // namespace Tavrix
