#include "ui/account/paymenthistory.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "api/apirequest.h"
#include "common/user.h"
#include "ui/account/accountrequest.h"
#include "ui/account/purchasedwidget.h"
#include "ui/dbox.h"

namespace Tavrix {

PaymentHistory::PaymentHistory(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Purchased History"), -1, parent)
{
    m_lalMessage = new QLabel(this);
    m_lalMessage->setObjectName(QStringLiteral("lalMessage"));
    m_lalMessage->setAlignment(Qt::AlignCenter);
    m_lalMessage->setWordWrap(true);
    m_lalMessage->hide();

    m_movie = new QMovie(QStringLiteral(":/assets/Spinner-1s-50px.gif"), QByteArray(), this);
    m_spinner = new QLabel(this);
    m_spinner->setObjectName(QStringLiteral("lblSpinner"));
    m_spinner->setFixedSize(50, 50);
    m_spinner->setScaledContents(true);
    m_spinner->setMovie(m_movie);
    m_spinner->hide();

    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("historyScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list = new QWidget(scroll);
    m_list->setObjectName(QStringLiteral("listWidget"));
    m_rows = new QVBoxLayout(m_list);
    m_rows->setContentsMargins(2, 2, 8, 2);
    m_rows->setSpacing(10);
    m_rows->addStretch();
    scroll->setWidget(m_list);
    m_request = new AccountRequest(this);
    m_list->hide();

    body()->addWidget(m_spinner, 0, Qt::AlignHCenter);
    body()->addWidget(m_lalMessage);
    body()->addWidget(scroll, 1);

    connect(backButton(), &QPushButton::pressed, this, &PaymentHistory::on_btnBack_pressed);
}

PaymentHistory::~PaymentHistory() = default;

bool PaymentHistory::isLoading() const
{
    return m_request->isBusy();
}

void PaymentHistory::showEvent(QShowEvent *event)
{
    PlaceholderPage::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            load();
    });
}

void PaymentHistory::on_btnBack_pressed()
{
    emit btnBackPressed();
}

void PaymentHistory::load()
{
    // A show while the last request still runs waits for that one's answer.
    if (m_request->isBusy())
        return;
    m_lalMessage->clear();
    m_lalMessage->hide();
    m_list->hide();
    while (m_rows->count() > 1) {
        QLayoutItem *item = m_rows->takeAt(0);
        delete item->widget();
        delete item;
    }
    m_spinner->show();
    m_movie->start();

    // Through the pages' shared request, which serialises calls on the shared account API.
    m_request->start(
        nullptr, [] { return ApiRequest::instance()->purchaseHistory(); },
        [this](const AccountRequest::Outcome &outcome) { onLoaded(outcome.result, outcome.message); });
}

void PaymentHistory::onLoaded(int result, const QString &message)
{
    if (result != ApiRequest::OperationSuccess) {
        // Opened without a nested event loop: the page goes back once the box is closed.
        auto *box = new DBox(window());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setSubmitText(QStringLiteral("Ok"));
        box->setTitle(message);
        connect(box, &QDialog::finished, this, [this] {
            stopSpinner();
            emit loaded();
            emit btnBackPressed();
        });
        box->open();
        return;
    }
    const QJsonArray history = User::instance()->purchaseHistory();
    if (history.isEmpty()) {
        m_lalMessage->setText(QStringLiteral("No purchase history available."));
        m_lalMessage->show();
    } else {
        int row = 0;
        for (const QJsonValue &value : history) {
            const QJsonObject entry = value.toObject();
            m_rows->insertWidget(
                row++, new PurchasedWidget(entry.value(QStringLiteral("plan_name")).toVariant().toString(),
                                           entry.value(QStringLiteral("tnx_date")).toVariant().toString(),
                                           entry.value(QStringLiteral("tnx_id")).toVariant().toString(), m_list));
        }
        m_list->show();
    }
    stopSpinner();
    emit loaded();
}

void PaymentHistory::stopSpinner()
{
    m_movie->stop();
    m_spinner->hide();
}

} // namespace Tavrix
