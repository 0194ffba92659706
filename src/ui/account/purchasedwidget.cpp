#include "ui/account/purchasedwidget.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/account/copypopup.h"

namespace Tavrix {

namespace {
QLabel *makeLabel(const char *name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}
} // namespace

PurchasedWidget::PurchasedWidget(const QString &planName, const QString &date, const QString &transactionId,
                                 QWidget *parent)
    : Card(parent)
{
    setObjectName(QStringLiteral("PurchasedWidget"));

    auto *icon = makeLabel("lblTnxIcon", QString(), this);
    icon->setPixmap(QIcon(QStringLiteral(":/assets/Transaction.svg")).pixmap(32, 32));
    auto *lblTnxName = makeLabel("lblTnxName", planName, this);
    auto *lblTnxDate = makeLabel("lblTnxDate", date, this);
    m_lblTnxID = makeLabel("lblTnxID", transactionId, this);
    m_lblTnxID->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *btnCopy = new QPushButton(QIcon(QStringLiteral(":/assets/copy.png")), QString(), this);
    btnCopy->setObjectName(QStringLiteral("btnCopy"));
    btnCopy->setProperty("role", QStringLiteral("copy"));
    btnCopy->setIconSize(QSize(18, 18));
    btnCopy->setFixedSize(32, 32);
    btnCopy->setCursor(Qt::PointingHandCursor);
    btnCopy->setToolTip(QStringLiteral("Copy"));
    btnCopy->setAccessibleName(QStringLiteral("Copy transaction ID"));
    connect(btnCopy, &QPushButton::pressed, this, &PurchasedWidget::on_btnCopy_pressed);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(14, 12, 10, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(4);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(lblTnxName, 0, 1);
    grid->addWidget(makeLabel("lblPurchasedCaption", QStringLiteral("Purchased"), this), 0, 2, Qt::AlignRight);
    grid->addWidget(lblTnxDate, 1, 1, 1, 2);
    auto *idRow = new QHBoxLayout;
    idRow->setSpacing(6);
    idRow->addWidget(makeLabel("lblTnxIdCaption", QStringLiteral("Trans ID:"), this));
    idRow->addWidget(m_lblTnxID, 1);
    idRow->addWidget(btnCopy);
    grid->addLayout(idRow, 2, 1, 1, 2);
    grid->setColumnStretch(1, 1);
}

void PurchasedWidget::on_btnCopy_pressed()
{
    QApplication::clipboard()->setText(m_lblTnxID->text());
    showCopiedPopup(this, QStringLiteral("Trans ID copied to clipboard"));
}

} // namespace Tavrix
