#include "ui/account/darkwebmonitoringpage.h"

#include <QDebug>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "api/apirequest.h"
#include "ui/account/accountanswers.h"
#include "ui/account/accountform.h"
#include "ui/account/accountrequest.h"

namespace Tavrix {

DarkWebMonitoringPage::DarkWebMonitoringPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Dark Web Monitoring"), -1, parent)
    , m_request(new AccountRequest(this))
{
    QVBoxLayout *column = body();
    column->addSpacing(24);
    column->addWidget(AccountForm::picture(QStringLiteral(":/assets/darkWeb.png"), 88, this));
    column->addSpacing(8);
    column->addWidget(AccountForm::text(QStringLiteral("Verify your darkweb exposure!"), "lblTitle", this));
    column->addWidget(AccountForm::text(QStringLiteral("We check whether the address turns up in known data leaks "
                                                       "and send you the result by e-mail."),
                                        "lblMessage", this));
    column->addSpacing(16);
    m_email = AccountForm::codeField(QStringLiteral("Enter e-mail address"), this);
    column->addWidget(m_email);
    column->addSpacing(8);
    m_verify = AccountForm::primaryButton(QStringLiteral("Verify"), "btnVerify", this);
    column->addWidget(m_verify);
    column->addStretch(1);

    connect(backButton(), &QPushButton::pressed, this, &DarkWebMonitoringPage::on_btnBack_pressed);
    connect(m_verify, &QPushButton::pressed, this, &DarkWebMonitoringPage::on_btnVerify_pressed);
    connect(m_email, &QLineEdit::returnPressed, this, &DarkWebMonitoringPage::on_btnVerify_pressed);
}

void DarkWebMonitoringPage::on_btnBack_pressed()
{
    emit clickBack();
}

void DarkWebMonitoringPage::on_btnVerify_pressed()
{
    if (m_request->isBusy())
        return;
    const QString email = m_email->text();
    if (email.isEmpty()) {
        // Nothing to check: no request.
        showAnswerBox(AccountAnswers::darkWebAnswer(email, 0, QString()));
        return;
    }
    m_request->start(
        m_verify, [email] { return ApiRequest::instance()->darkWebCheck(email); },
        [this, email](const AccountRequest::Outcome &outcome) {
            qDebug() << "response value:::" << outcome.result;
            m_verify->setText(QStringLiteral("Verify"));
            m_email->clear();
            showAnswerBox(AccountAnswers::darkWebAnswer(email, outcome.result, outcome.message));
        });
}

} // namespace Tavrix
