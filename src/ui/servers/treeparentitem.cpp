#include "ui/servers/treeparentitem.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include "common/countryflags.h"
#include "ui/servers/serverlisticons.h"

namespace Tavrix {

namespace {

const char *const arrowPicture = ":/assets/arrow.png";
// The card sits inside the row with a little air above and below, so groups read apart.
const int cardMargin = 4;

} // namespace

TreeParentItem::TreeParentItem(const QString &name, int code, QWidget *parent)
    : QWidget(parent)
    , m_name(name)
    , m_code(code)
{
    setObjectName(QStringLiteral("TreeParentItem"));
    setFixedHeight(rowHeight);

    m_lblCountryIcon = new QLabel(this);
    m_lblCountryIcon->setObjectName(QStringLiteral("lblCountryIcon"));
    m_lblCountryIcon->setMaximumWidth(72);
    m_lblCountryIcon->setMinimumWidth(56);
    m_lblCountryIcon->setAlignment(Qt::AlignCenter);
    m_lblCountryIcon->setPixmap(serverListPicture(iconPath(code), QSize(30, 30)));

    m_lblCountryName = new QLabel(this);
    m_lblCountryName->setObjectName(QStringLiteral("lblCountryName"));
    // Elided with the font the style sheet gives the label, not the default one.
    m_lblCountryName->ensurePolished();
    m_lblCountryName->setText(m_lblCountryName->fontMetrics().elidedText(name, Qt::ElideRight, 200));

    m_lblArrow = new QLabel(this);
    m_lblArrow->setObjectName(QStringLiteral("lblArrow"));
    m_lblArrow->setMargin(6);
    m_lblArrow->setPixmap(serverListPicture(QLatin1String(arrowPicture), QSize(14, 14)));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, cardMargin, 12, cardMargin);
    row->setSpacing(4);
    row->addWidget(m_lblCountryIcon);
    row->addWidget(m_lblCountryName, 1);
    row->addWidget(m_lblArrow);
}

void TreeParentItem::setExpanded(bool expanded)
{
    if (expanded == m_expanded)
        return;
    m_expanded = expanded;
    m_lblArrow->setPixmap(serverListPicture(QLatin1String(arrowPicture), QSize(14, 14), expanded ? 90 : 0));
}

void TreeParentItem::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0xE6, 0xE6, 0xE6), 1));
    painter.setBrush(Qt::white);
    const QRectF card = QRectF(rect()).adjusted(0.5, cardMargin + 0.5, -0.5, -cardMargin - 0.5);
    painter.drawRoundedRect(card, 8, 8);
}

} // namespace Tavrix
