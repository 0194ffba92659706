#include "ui/servers/quickserverbutton.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <iterator>

#include "common/config.h"
#include "common/user.h"
#include "ui/servers/elidedlabel.h"

namespace Tavrix {

namespace {

constexpr int logoSize = 40;
constexpr int titleWeight = 600;
constexpr int subtitleWeight = 400;
constexpr int rowMargins = 8 + 6;
constexpr int rowSpacing = 6;
constexpr int columnMargins = 6 + 6;

struct TypeSizes
{
    int title;
    int subtitle;
};

// Tried in order: beside the picture first, then under it, each from large to small type.
constexpr TypeSizes rowSizes[] = {{18, 14}, {16, 13}, {15, 12}};
constexpr TypeSizes columnSizes[] = {{15, 12}, {14, 12}, {13, 11}, {12, 10}, {11, 10}};

} // namespace

QuickServerButton::QuickServerButton(const QString &subtitleName, QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(64);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    m_lblLogo = new QLabel(this);
    m_lblLogo->setObjectName(QStringLiteral("lblLogo"));
    m_lblLogo->setFixedSize(logoSize, logoSize);
    m_lblLogo->setAlignment(Qt::AlignCenter);
    // Both texts take the room the tile gives them; fitTexts() picks a type that fits it.
    m_lblTitle = new ElidedLabel(this);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    m_lblSubtitle = new ElidedLabel(this);
    m_lblSubtitle->setObjectName(subtitleName);

    m_texts = new QVBoxLayout;
    m_texts->setSpacing(0);
    m_texts->addStretch();
    m_texts->addWidget(m_lblTitle);
    m_texts->addWidget(m_lblSubtitle);
    m_texts->addStretch();

    m_layout = new QBoxLayout(QBoxLayout::LeftToRight, this);
    m_layout->setContentsMargins(8, 8, 6, 8);
    m_layout->setSpacing(rowSpacing);
    m_layout->addWidget(m_lblLogo, 0, Qt::AlignVCenter);
    m_layout->addLayout(m_texts, 1);

    applyTextColours();
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &QuickServerButton::onStatusChanged);
}

void QuickServerButton::onStatusChanged(OpenConnectConnection::Status status)
{
    m_connected = status == OpenConnectConnection::CONNECTED;
    applyTextColours();
    update();
}

void QuickServerButton::applyTextColours()
{
    const QString colour = m_connected ? QStringLiteral("#FFFFFF") : QStringLiteral("#434343");
    m_lblTitle->setStyleSheet(QStringLiteral("color: %1; font-size: %2px; font-weight: %3; background: transparent;")
                                  .arg(colour)
                                  .arg(m_titlePx)
                                  .arg(titleWeight));
    m_lblSubtitle->setStyleSheet(QStringLiteral("color: %1; font-size: %2px; font-weight: %3; background: transparent;")
                                     .arg(colour)
                                     .arg(m_subtitlePx)
                                     .arg(subtitleWeight));
}

bool QuickServerButton::fits(const QString &text, int pixelSize, int weight, int room) const
{
    QFont font = m_lblTitle->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight >= 600 ? QFont::DemiBold : QFont::Normal);
    return QFontMetrics(font).horizontalAdvance(text) + 2 <= room;
}

void QuickServerButton::fitTexts()
{
    const QString title = m_lblTitle->text();
    const QString subtitle = m_lblSubtitle->text();
    const int width = this->width();
    bool above = true;
    TypeSizes chosen = columnSizes[std::size(columnSizes) - 1];
    bool found = false;
    for (const TypeSizes &sizes : rowSizes) {
        const int room = width - rowMargins - logoSize - rowSpacing;
        if (fits(title, sizes.title, titleWeight, room) && fits(subtitle, sizes.subtitle, subtitleWeight, room)) {
            chosen = sizes;
            above = false;
            found = true;
            break;
        }
    }
    for (int i = 0; !found && i < int(std::size(columnSizes)); ++i) {
        const TypeSizes &sizes = columnSizes[i];
        const int room = width - columnMargins;
        if (fits(title, sizes.title, titleWeight, room) && fits(subtitle, sizes.subtitle, subtitleWeight, room)) {
            chosen = sizes;
            found = true;
        }
    }
    if (above == m_pictureAbove && chosen.title == m_titlePx && chosen.subtitle == m_subtitlePx)
        return;
    m_pictureAbove = above;
    m_titlePx = chosen.title;
    m_subtitlePx = chosen.subtitle;

    const Qt::Alignment textAlign = (above ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter;
    m_lblTitle->setAlignment(textAlign);
    m_lblSubtitle->setAlignment(textAlign);
    if (above) {
        m_layout->setDirection(QBoxLayout::TopToBottom);
        m_layout->setContentsMargins(6, 8, 6, 8);
        m_layout->setSpacing(2);
        m_layout->setAlignment(m_lblLogo, Qt::AlignHCenter);
    } else {
        m_layout->setDirection(QBoxLayout::LeftToRight);
        m_layout->setContentsMargins(8, 8, 6, 8);
        m_layout->setSpacing(rowSpacing);
        m_layout->setAlignment(m_lblLogo, Qt::AlignVCenter);
    }
    applyTextColours();
    // Line heights of the chosen type decide the tile's height.
    QFont titleFont = m_lblTitle->font();
    titleFont.setPixelSize(m_titlePx);
    QFont subtitleFont = m_lblSubtitle->font();
    subtitleFont.setPixelSize(m_subtitlePx);
    const int textHeight = QFontMetrics(titleFont).height() + QFontMetrics(subtitleFont).height();
    setFixedHeight(above ? 8 + logoSize + 2 + textHeight + 8 : qMax(64, 8 + textHeight + 8));
}

bool QuickServerButton::event(QEvent *event)
{
    // A text changed (a new server picked): fit it again.
    if (event->type() == QEvent::LayoutRequest)
        fitTexts();
    return QWidget::event(event);
}

void QuickServerButton::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitTexts();
}

void QuickServerButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_connected ? QColor(158, 51, 64) : QColor(225, 225, 225));
    painter.drawRoundedRect(rect(), 6, 6);
}

void QuickServerButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        pressed();
    QWidget::mousePressEvent(event);
}

QVector<IPBundlePtr> QuickServerButton::candidates(const std::function<bool(const IPBundle &)> &test)
{
    QVector<IPBundlePtr> result;
    for (const IPBundlePtr &bundle : User::instance()->bundles()) {
        if (bundle && test(*bundle))
            result.append(bundle);
    }
    return result;
}

void QuickServerButton::makeActive(const IPBundlePtr &bundle)
{
    auto config = Config::instance();
    config->setActiveServer(bundle->ip_id());
    config->save();
}

} // namespace Tavrix
