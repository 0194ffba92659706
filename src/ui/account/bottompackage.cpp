#include "ui/account/bottompackage.h"

#include <QDebug>
#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QVBoxLayout>

#include "common/weblink.h"
#include "ui/accessibility.h"
#include "ui/account/package.h"

namespace Tavrix {

namespace {
QLabel *makeLabel(const char *name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}
} // namespace

BottomPackage::BottomPackage(const QJsonObject &package, QWidget *parent)
    : Card(parent)
    , m_idText(WebLink::packageIdText(package.value(QStringLiteral("id"))))
{
    setObjectName(QStringLiteral("BottomPackage"));
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(96);

    auto *title = makeLabel("lblOfferTitle", QStringLiteral("Offer For You"), this);
    auto *lblName = makeLabel("lblName", package.value(QStringLiteral("name")).toString(), this);
    lblName->setWordWrap(true);
    const QString price = package.value(QStringLiteral("price")).toString();
    Accessibility::makeClickable(
        this, QStringLiteral("Offer for you: %1, %2 $").arg(package.value(QStringLiteral("name")).toString(), price));
    auto *lblPrice = makeLabel("lblPrice", price + QStringLiteral(" $"), this);
    m_badge = new Badge(package.value(QStringLiteral("highlighted_text")).toString(), this);
    m_badge->setObjectName(QStringLiteral("lblhighlightedText"));
    m_badge->setAlignment(Qt::AlignCenter);
    m_badge->setWordWrap(true);
    m_badge->setMaximumWidth(180);
    qDebug().noquote() << "price :::" << price;

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(title);
    texts->addWidget(lblName);
    texts->addWidget(lblPrice);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 12, 0, 12);
    row->addLayout(texts, 1);
    row->addWidget(m_badge, 0, Qt::AlignVCenter);

    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(5);
    shadow->setOffset(0.5, 0.5);
    shadow->setColor(QColor(0, 0, 0, 160));
    setGraphicsEffect(shadow);
    Package::setBadgeRed(m_badge, false);
}

void BottomPackage::mousePressEvent(QMouseEvent *event)
{
    Card::mousePressEvent(event);
    Package::openCheckout(m_idText);
}

void BottomPackage::enterEvent(QEvent *event)
{
    Card::enterEvent(event);
    Package::setBadgeRed(m_badge, true);
}

void BottomPackage::leaveEvent(QEvent *event)
{
    Card::leaveEvent(event);
    Package::setBadgeRed(m_badge, false);
}

} // namespace Tavrix
