#include "ui/account/referralredeem.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "api/apirequest.h"
#include "common/config.h"
#include "ui/account/accountform.h"
#include "ui/account/accountrequest.h"
#include "ui/dbox.h"
#include "ui/overlay.h"

namespace Tavrix {

CongratulationsPopup::CongratulationsPopup(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("CongratulationsPopup"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_StyledBackground);
    setWindowModality(Qt::ApplicationModal);
    setFixedWidth(380);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(14);
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("lblPicture"));
    picture->setAlignment(Qt::AlignCenter);
    picture->setPixmap(QPixmap(QStringLiteral(":/assets/CongratulationsPopup.png"))
                           .scaled(300, 200, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    column->addWidget(picture);
    column->addWidget(AccountForm::text(QStringLiteral("Congratulations! \n You've Unlocked 3 Days \nof Premium VPN"),
                                        "lblCongratulations", this));
    auto *referMore = AccountForm::primaryButton(QStringLiteral("Refer more"), "btnReferMore", this);
    referMore->setIcon(QIcon(QStringLiteral(":/assets/referWhite.png")));
    referMore->setIconSize(QSize(20, 20));
    auto *notNow = AccountForm::primaryButton(QStringLiteral("Not Now"), "btnNotNow", this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(notNow);
    buttons->addWidget(referMore);
    column->addLayout(buttons);

    connect(referMore, &QPushButton::pressed, this, &CongratulationsPopup::on_btnReferMore_pressed);
    connect(notNow, &QPushButton::pressed, this, &CongratulationsPopup::on_btnNotNow_pressed);
}

void CongratulationsPopup::on_btnNotNow_pressed()
{
    close();
}

void CongratulationsPopup::on_btnReferMore_pressed()
{
    emit connectToReferPage();
    close();
}

void CongratulationsPopup::keyPressEvent(QKeyEvent *event)
{
    // Only its buttons answer it.
    event->accept();
}

ReferralRedeem::ReferralRedeem(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Free Bonus"), 5, parent)
    , m_request(new AccountRequest(this))
{
    QVBoxLayout *column = body();
    column->addSpacing(24);
    column->addWidget(AccountForm::picture(QStringLiteral(":/assets/refer.png"), 88, this));
    column->addSpacing(8);
    column->addWidget(AccountForm::text(QStringLiteral("Redeem Your Refer Code"), "lblTitle", this));
    column->addWidget(AccountForm::text(
        QStringLiteral("Got a refer code from a friend? Enter it to unlock Premium days."), "lblMessage", this));
    column->addSpacing(16);
    m_code = AccountForm::codeField(QStringLiteral("Enter A Refer Code"), this);
    column->addWidget(m_code);
    column->addSpacing(8);
    m_submit = AccountForm::primaryButton(QStringLiteral("Procced"), "btnSubmit", this);
    column->addWidget(m_submit);
    column->addStretch(1);

    connect(backButton(), &QPushButton::pressed, this, &ReferralRedeem::on_btnBack_pressed);
    connect(m_submit, &QPushButton::pressed, this, &ReferralRedeem::on_btnSubmit_pressed);
    connect(m_code, &QLineEdit::returnPressed, this, &ReferralRedeem::on_btnSubmit_pressed);
}

void ReferralRedeem::on_btnBack_pressed()
{
    emit clickBack();
}

void ReferralRedeem::on_btnSubmit_pressed()
{
    if (m_request->isBusy())
        return;
    const QString code = m_code->text();
    if (code.isEmpty()) {
        showAnswerBox(QStringLiteral("Refer code is empty!"));
        return;
    }
    m_request->start(
        m_submit, [code] { return ApiRequest::instance()->referSubmit(code); },
        [this](const AccountRequest::Outcome &outcome) {
            m_submit->setText(QStringLiteral("Procced"));
            qDebug() << "response::::" << outcome.result;
            m_code->clear();
            if (outcome.result != 0) {
                showAnswerBox(outcome.message);
                return;
            }
            Config::saveState(5, 0);
            emit refresh();
            // Over the whole window: the refresh above may already have left
            // the signed-in pages.
            auto *popup = new CongratulationsPopup(DBox::parentWindow() ? DBox::parentWindow() : window());
            connect(popup, &CongratulationsPopup::connectToReferPage, this, &ReferralRedeem::clickBack);
            showWithOverlay(popup);
        });
}

} // namespace Tavrix
