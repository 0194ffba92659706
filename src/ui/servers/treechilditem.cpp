#include "ui/servers/treechilditem.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include "common/config.h"
#include "common/user.h"
#include "ui/servers/dialog.h"
#include "ui/servers/serverlisticons.h"

namespace Tavrix {

namespace {

const char *const starOn = ":/assets/Star.png";
const char *const starOff = ":/assets/favourit.png";
const int cornerRadius = 8;

QPixmap smallIcon(const char *path)
{
    return serverListPicture(QLatin1String(path), QSize(14, 14));
}

} // namespace

TreeChildItem::Lock TreeChildItem::lockFor(const IPBundle &bundle, int isLoyalUser)
{
    if (bundle.isPlaceholderAddress())
        return PremiumLock;
    if (bundle.isLoyalUserServer() && isLoyalUser == 0)
        return LoyaltyLock;
    return Unlocked;
}

TreeChildItem::TreeChildItem(bool isFirst, bool isLast, const IPBundlePtr &bundle, QWidget *parent, QWidget *page)
    : QWidget(parent)
    , m_bundle(bundle)
    , m_page(page)
    , m_isFirst(isFirst)
    , m_isLast(isLast)
{
    setObjectName(QStringLiteral("TreeChildItem"));
    setFixedHeight(rowHeight + (isLast ? groupGap : 0));
    m_lock = lockFor(*m_bundle, User::instance()->is_loyal_user());

    m_lblLocation = new QLabel(this);
    m_lblLocation->setObjectName(QStringLiteral("lblLocation"));
    m_lblLocation->setPixmap(smallIcon(":/assets/location icon.png"));

    m_lblCity = new QLabel(m_bundle->ipName(), this);
    m_lblCity->setObjectName(QStringLiteral("lblCity"));

    m_lblLock = new QLabel(this);
    m_lblLock->setObjectName(QStringLiteral("lblLock"));
    m_lblLock->setPixmap(smallIcon(":/assets/lock.png"));
    m_lblLock->setVisible(m_lock != Unlocked);

    m_btnFavorite = new QPushButton(this);
    m_btnFavorite->setObjectName(QStringLiteral("btnFavorite"));
    m_btnFavorite->setFlat(true);
    m_btnFavorite->setFocusPolicy(Qt::NoFocus);
    m_btnFavorite->setCursor(Qt::PointingHandCursor);
    m_btnFavorite->setFixedSize(28, 28);
    m_btnFavorite->setIconSize(QSize(28, 14));
    showStar(Config::instance()->isFavourite(m_bundle->ip_id()));
    connect(m_btnFavorite, &QPushButton::clicked, this, &TreeChildItem::on_btnFavorite_clicked);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 0, 10, isLast ? groupGap : 0);
    row->setSpacing(8);
    row->addWidget(m_lblLocation);
    row->addWidget(m_lblCity, 1);
    row->addWidget(m_lblLock);
    row->addWidget(m_btnFavorite);
}

TreeChildItem::~TreeChildItem()
{
    // The box belongs to the page (it must outlive a press on a row that a rebuild removes),
    // but it is this row's: do not leave one behind per rebuilt row.
    if (m_popup)
        m_popup->deleteLater();
}

void TreeChildItem::showStar(bool favourite)
{
    const QPixmap star = serverListPicture(QLatin1String(favourite ? starOn : starOff), QSize(28, 14));
    m_btnFavorite->setIcon(QIcon(star));
    m_btnFavorite->setProperty("favourite", favourite);
    m_btnFavorite->setAccessibleName(favourite ? QStringLiteral("Remove %1 from favourites").arg(m_bundle->ipName())
                                               : QStringLiteral("Add %1 to favourites").arg(m_bundle->ipName()));
}

void TreeChildItem::on_btnFavorite_clicked()
{
    const std::shared_ptr<Config> config = Config::instance();
    const int id = m_bundle->ip_id();
    QString message;
    if (config->isFavourite(id)) {
        config->removeFavourite(id);
        showStar(false);
        message = QStringLiteral("Removed from favorite locations");
    } else {
        config->addFavourite(id);
        showStar(true);
        message = QStringLiteral("Added to favorite locations");
    }

    if (!m_popup)
        m_popup = new Dialog(m_page);
    m_popup->setText(message);
    // The list may be rebuilt while the box is up (a search, another page's change), which
    // takes this row away.
    QPointer<TreeChildItem> self(this);
    QPointer<Dialog> popup = m_popup;
    popup->exec();

    Config::setFavoriteFlag();
    if (self)
        emit favoriteButtonClick();
}

void TreeChildItem::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    showStar(Config::instance()->isFavourite(m_bundle->ip_id()));
}

void TreeChildItem::enterEvent(QEvent *event)
{
    QWidget::enterEvent(event);
    m_hovered = true;
    update();
}

void TreeChildItem::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    m_hovered = false;
    update();
}

void TreeChildItem::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, width(), rowHeight);
    const qreal top = m_isFirst ? cornerRadius : 0;
    const qreal bottom = m_isLast ? cornerRadius : 0;

    // A rectangle whose top and bottom corners are rounded independently.
    QPainterPath path;
    path.moveTo(box.left(), box.top() + top);
    if (top > 0)
        path.arcTo(QRectF(box.left(), box.top(), 2 * top, 2 * top), 180, -90);
    path.lineTo(box.right() - top, box.top());
    if (top > 0)
        path.arcTo(QRectF(box.right() - 2 * top, box.top(), 2 * top, 2 * top), 90, -90);
    path.lineTo(box.right(), box.bottom() - bottom);
    if (bottom > 0)
        path.arcTo(QRectF(box.right() - 2 * bottom, box.bottom() - 2 * bottom, 2 * bottom, 2 * bottom), 0, -90);
    path.lineTo(box.left() + bottom, box.bottom());
    if (bottom > 0)
        path.arcTo(QRectF(box.left(), box.bottom() - 2 * bottom, 2 * bottom, 2 * bottom), 270, -90);
    path.closeSubpath();

    painter.setPen(Qt::NoPen);
    painter.setBrush(m_hovered ? QColor(0xF5, 0xF5, 0xF5) : QColor(Qt::white));
    painter.drawPath(path);
    if (!m_isLast) {
        // A hairline between the rows of a group.
        painter.setPen(QPen(QColor(0xEE, 0xEE, 0xEE), 1));
        painter.drawLine(QPointF(16, rowHeight - 0.5), QPointF(width() - 10, rowHeight - 0.5));
    }
}

} // namespace Tavrix
