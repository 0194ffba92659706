#include "ui/account/referfriendpage.h"

#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "api/apirequest.h"
#include "common/config.h"
#include "common/user.h"
#include "ui/account/accountanswers.h"
#include "ui/account/accountform.h"
#include "ui/account/accountrequest.h"
#include "ui/account/socalmediawidget.h"
#include "ui/servers/dialog.h"

namespace Tavrix {

namespace {
QPushButton *iconButton(const char *name, const QString &icon, const QString &tip, QWidget *parent)
{
    auto *button = new QPushButton(QIcon(icon), QString(), parent);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setCursor(Qt::PointingHandCursor);
    button->setIconSize(QSize(22, 22));
    button->setFixedSize(44, 44);
    return button;
}
} // namespace

ReferFriendPage::ReferFriendPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Refer a Friend"), -1, parent)
    , m_request(new AccountRequest(this))
{
    QVBoxLayout *column = body();
    m_loader = AccountForm::loader(this);
    column->addWidget(m_loader);

    m_info = new QWidget(this);
    m_info->setObjectName(QStringLiteral("infoWidget"));
    auto *info = new QVBoxLayout(m_info);
    info->setContentsMargins(0, 16, 0, 0);
    info->addWidget(AccountForm::picture(QStringLiteral(":/assets/refer.png"), 80, m_info));
    m_title = AccountForm::text(QString(), "lblTitle", m_info);
    m_message = AccountForm::text(QString(), "lblMessage", m_info);
    info->addWidget(m_title);
    info->addWidget(m_message);
    m_info->hide();
    column->addWidget(m_info);

    m_controls = new QWidget(this);
    m_controls->setObjectName(QStringLiteral("controlWidget"));
    auto *controls = new QVBoxLayout(m_controls);
    controls->setContentsMargins(0, 12, 0, 0);
    controls->setSpacing(10);
    controls->addWidget(AccountForm::text(QStringLiteral("Your Refer Code"), "lblCodeCaption", m_controls));
    auto *row = new QHBoxLayout;
    m_code = AccountForm::codeField(QString(), m_controls);
    m_code->setReadOnly(true);
    m_code->setAccessibleName(QStringLiteral("Your Refer Code"));
    m_code->setAlignment(Qt::AlignCenter);
    auto *copy = iconButton("btnSubscribe_3", QStringLiteral(":/assets/copy2.png"), QStringLiteral("Copy"), m_controls);
    m_shareButton =
        iconButton("btnShare", QStringLiteral(":/assets/share icon.png"), QStringLiteral("Share"), m_controls);
    row->addWidget(m_code, 1);
    row->addWidget(copy);
    row->addWidget(m_shareButton);
    controls->addLayout(row);
    controls->addSpacing(8);
    auto *redeem = new QPushButton(QStringLiteral("Redeem a Refer Code"), m_controls);
    redeem->setObjectName(QStringLiteral("btnRedeemReferal"));
    redeem->setCursor(Qt::PointingHandCursor);
    redeem->setMinimumHeight(44);
    controls->addWidget(redeem);
    m_controls->hide();
    column->addWidget(m_controls);
    column->addStretch(1);

    m_share = new SocalMediaWidget(this);
    m_share->hide();

    connect(backButton(), &QPushButton::clicked, this, &ReferFriendPage::on_btnBack_clicked);
    connect(copy, &QPushButton::pressed, this, &ReferFriendPage::on_btnSubscribe_3_pressed);
    connect(m_shareButton, &QPushButton::pressed, this, &ReferFriendPage::on_btnShare_pressed);
    connect(redeem, &QPushButton::pressed, this, &ReferFriendPage::on_btnRedeemReferal_pressed);
}

void ReferFriendPage::showEvent(QShowEvent *event)
{
    PlaceholderPage::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            load();
    });
}

void ReferFriendPage::hideEvent(QHideEvent *event)
{
    m_share->close();
    PlaceholderPage::hideEvent(event);
}

void ReferFriendPage::resizeEvent(QResizeEvent *event)
{
    PlaceholderPage::resizeEvent(event);
    placeSharePopup();
}

void ReferFriendPage::load()
{
    qDebug() << "enter init............";
    m_loader->show();
    m_request->start(
        m_loader->findChild<QPushButton *>(QStringLiteral("btnloader")),
        [] { return ApiRequest::instance()->referInfo(); },
        [this](const AccountRequest::Outcome &outcome) {
            m_loader->hide();
            if (outcome.result < 2) {
                const AccountAnswers::ReferralContent content =
                    AccountAnswers::referralContent(User::instance()->referInfo());
                User::instance()->setReferralCode(content.code);
                m_title->setText(content.title);
                m_message->setText(content.message);
                m_code->setText(content.code);
                m_info->show();
                m_controls->show();
                if (isVisible())
                    Config::saveState(8, 0);
            } else if (isVisible()) {
                // Without the code there is nothing to show here.
                QPointer<ReferFriendPage> self(this);
                showAnswerBox(
                    outcome.message,
                    [self] {
                        if (self)
                            emit self->clickBack();
                    },
                    true);
            }
            m_share->close();
        });
}

void ReferFriendPage::on_btnBack_clicked()
{
    m_share->close();
    emit clickBack();
}

void ReferFriendPage::on_btnRedeemReferal_pressed()
{
    m_share->close();
    emit redeemReferalClick();
}

void ReferFriendPage::on_btnSubscribe_3_pressed()
{
    auto *data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), m_code->text().toUtf8());
    QApplication::clipboard()->setMimeData(data);
    auto *popup = new Dialog(this);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setText(QStringLiteral("Referral code copied to clipboard"));
    popup->show();
}

void ReferFriendPage::on_btnShare_pressed()
{
    if (m_share->isVisible()) {
        m_share->close();
        return;
    }
    placeSharePopup();
    m_share->show();
    m_share->raise();
}

void ReferFriendPage::placeSharePopup()
{
    if (!m_share || !m_shareButton)
        return;
    const int width = qMin(340, this->width() - 16);
    m_share->setFixedWidth(width);
    m_share->adjustSize();
    // Below the share button, or above it when the page ends too soon.
    const QPoint corner = m_shareButton->mapTo(this, QPoint(m_shareButton->width(), 0));
    const int x = qBound(8, corner.x() - width, qMax(8, this->width() - width - 8));
    int y = corner.y() + m_shareButton->height() + 8;
    if (y + m_share->height() > height() - 8)
        y = qMax(8, corner.y() - 8 - m_share->height());
    m_share->move(x, y);
}

} // namespace Tavrix
