#include "ui/account/package.h"

#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "common/offers.h"
#include "common/user.h"
#include "common/weblink.h"
#include "ui/accessibility.h"
#include "ui/urlopener.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {

namespace {
QLabel *makeLabel(const char *name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}
} // namespace

Package::Package(const QJsonObject &package, QWidget *parent)
    : Card(parent)
    , m_idText(WebLink::packageIdText(package.value(QStringLiteral("id"))))
{
    setObjectName(QStringLiteral("Package"));
    setCursor(Qt::PointingHandCursor);
    setMinimumSize(150, 120);

    const QString name = package.value(QStringLiteral("name")).toString();
    Accessibility::makeClickable(
        this, QStringLiteral("%1, %2 $").arg(name, package.value(QStringLiteral("price")).toString()));
    auto *lblName = makeLabel("lblName", name, this);
    auto *lbblPrice =
        makeLabel("lbblPrice", package.value(QStringLiteral("price")).toString() + QStringLiteral(" $"), this);
    auto *lblSubTitle = makeLabel("lblSubTitle", package.value(QStringLiteral("sub_title")).toString(), this);
    lblSubTitle->setWordWrap(true);
    m_badge = new Badge(Offers::highlightLines(package.value(QStringLiteral("highlighted_text")).toString()), this);
    m_badge->setObjectName(QStringLiteral("lblHighlightedText"));
    m_badge->setAlignment(Qt::AlignCenter);
    m_badge->setMinimumWidth(64);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(lblName);
    texts->addWidget(lbblPrice);
    texts->addWidget(lblSubTitle);
    texts->addStretch();
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(14, 12, 0, 12);
    row->addLayout(texts, 1);
    row->addWidget(m_badge, 0, Qt::AlignTop);

    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(5);
    shadow->setOffset(0.5, 0.5);
    shadow->setColor(QColor(0, 0, 0, 160));
    setGraphicsEffect(shadow);

    setBadgeRed(m_badge, name == QLatin1String("1 Year"));
}

bool Package::badgeRed() const
{
    return m_badge->property("look").toString() == QLatin1String("red");
}

void Package::setBadgeRed(QLabel *badge, bool red)
{
    badge->setProperty("look", red ? QStringLiteral("red") : QStringLiteral("grey"));
    badge->style()->unpolish(badge);
    badge->style()->polish(badge);
}

bool Package::openCheckout(const QString &idText)
{
    const auto controller = OpenConnectConnection::instance();
    return openUrl(WebLink::checkoutUrl(User::instance()->webPaymentPortalUrl(), idText,
                                        WebLink::currentToken(controller->getUsername(), controller->getPassword())));
}

void Package::mousePressEvent(QMouseEvent *event)
{
    Card::mousePressEvent(event);
    openCheckout(m_idText);
}

void Package::enterEvent(QEvent *event)
{
    Card::enterEvent(event);
    setBadgeRed(m_badge, true);
}

void Package::leaveEvent(QEvent *event)
{
    Card::leaveEvent(event);
    setBadgeRed(m_badge, false);
}

} // namespace Tavrix
