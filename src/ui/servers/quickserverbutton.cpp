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
#include "ui/accessibility.h"
#include "ui/servers/elidedlabel.h"

namespace Tavrix {

namespace {

constexpr int logoSize = 40;
constexpr int titleWeight = 600;
constexpr int subtitleWeight = 400;
constexpr int rowMargins = 8 + 6;
constexpr int rowSpacing = 6;
constexpr int columnMargins = 4 + 4;
// Pixels kept free beside a text: rounding of the text's width.
constexpr int slack = 3;

struct TypeSizes
{
    int title;
    int subtitle;
};

// Tried in order: beside the picture, then under it on one line, then under it on up to
// two lines, each from large to small type; the smallest last.
constexpr TypeSizes rowSizes[] = {{18, 14}, {16, 13}, {15, 12}};
constexpr TypeSizes columnSizes[] = {{15, 12}, {14, 12}, {13, 11}};
constexpr TypeSizes wrappedSizes[] = {{15, 12}, {14, 12}, {13, 11}, {12, 11}, {12, 10}};
constexpr TypeSizes smallestSizes[] = {{12, 10}, {11, 10}};

QFont textFont(QLabel *label, int pixelSize, int weight)
{
    // The family comes from the style sheet, which applies when the label is polished.
    label->ensurePolished();
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight >= 600 ? QFont::DemiBold : QFont::Normal);
    return font;
}

// Lines text needs at room pixels: 1, 2 (broken between words), or 0 when it does not fit.
int linesNeeded(const QString &text, const QFont &font, int room, bool twoLines)
{
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(text) + slack <= room)
        return 1;
    if (!twoLines)
        return 0;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString first;
    int used = 0;
    for (; used < words.size(); ++used) {
        const QString candidate = first.isEmpty() ? words.at(used) : first + QLatin1Char(' ') + words.at(used);
        if (metrics.horizontalAdvance(candidate) + slack > room)
            break;
        first = candidate;
    }
    if (used == 0 || used == words.size())
        return 0;
    return metrics.horizontalAdvance(words.mid(used).join(QLatin1Char(' '))) + slack <= room ? 2 : 0;
}

} // namespace

QuickServerButton::QuickServerButton(const QString &subtitleName, QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(64);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    Accessibility::makeClickable(this, subtitleName);

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
    // The text sizes are fitted to the tiles at run time, so this look stays on the labels.
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

QList<QuickServerButton *> QuickServerButton::rowOfTiles()
{
    QList<QuickServerButton *> tiles;
    if (QWidget *holder = parentWidget()) {
        for (QObject *child : holder->children()) {
            if (auto *tile = qobject_cast<QuickServerButton *>(child))
                tiles.append(tile);
        }
    }
    if (tiles.isEmpty())
        tiles.append(this);
    return tiles;
}

void QuickServerButton::fitTexts()
{
    // The tiles of a row share one look: the narrowest one and the longest texts decide it.
    const QList<QuickServerButton *> tiles = rowOfTiles();
    int width = this->width();
    for (QuickServerButton *tile : tiles)
        width = qMin(width, tile->width());

    int titleLines = 1;
    int subtitleLines = 1;
    const auto allFit = [&](int room, const TypeSizes &sizes, bool twoLines) {
        titleLines = subtitleLines = 1;
        for (QuickServerButton *tile : tiles) {
            const int t = linesNeeded(tile->m_lblTitle->text(), textFont(tile->m_lblTitle, sizes.title, titleWeight),
                                      room, twoLines);
            const int s = linesNeeded(tile->m_lblSubtitle->text(),
                                      textFont(tile->m_lblSubtitle, sizes.subtitle, subtitleWeight), room, twoLines);
            if (t == 0 || s == 0)
                return false;
            titleLines = qMax(titleLines, t);
            subtitleLines = qMax(subtitleLines, s);
        }
        return true;
    };

    bool above = true;
    bool wrapped = true;
    TypeSizes chosen = smallestSizes[std::size(smallestSizes) - 1];
    const int rowRoom = width - rowMargins - logoSize - rowSpacing;
    const int columnRoom = width - columnMargins;
    bool found = false;
    for (const TypeSizes &sizes : rowSizes) {
        if (!found && allFit(rowRoom, sizes, false)) {
            chosen = sizes;
            above = wrapped = false;
            found = true;
        }
    }
    for (const TypeSizes &sizes : columnSizes) {
        if (!found && allFit(columnRoom, sizes, false)) {
            chosen = sizes;
            wrapped = false;
            found = true;
        }
    }
    for (const TypeSizes &sizes : wrappedSizes) {
        if (!found && allFit(columnRoom, sizes, true)) {
            chosen = sizes;
            found = true;
        }
    }
    for (const TypeSizes &sizes : smallestSizes) {
        if (!found && allFit(columnRoom, sizes, true)) {
            chosen = sizes;
            found = true;
        }
    }
    if (!found) {
        // Nothing fits whole: the smallest type, cut where it must be.
        titleLines = subtitleLines = 2;
    }
    for (QuickServerButton *tile : tiles)
        tile->applyFit(above, wrapped, chosen.title, chosen.subtitle, titleLines, subtitleLines);
}

void QuickServerButton::applyFit(bool above, bool wrapped, int titlePx, int subtitlePx, int titleLines,
                                 int subtitleLines)
{
    const bool changed = above != m_pictureAbove || titlePx != m_titlePx || subtitlePx != m_subtitlePx ||
                         wrapped != static_cast<ElidedLabel *>(m_lblTitle)->twoLines() || titleLines != m_titleLines ||
                         subtitleLines != m_subtitleLines;
    if (!changed)
        return;
    m_pictureAbove = above;
    m_titlePx = titlePx;
    m_subtitlePx = subtitlePx;
    m_titleLines = titleLines;
    m_subtitleLines = subtitleLines;
    static_cast<ElidedLabel *>(m_lblTitle)->setTwoLines(wrapped);
    static_cast<ElidedLabel *>(m_lblSubtitle)->setTwoLines(wrapped);

    const Qt::Alignment textAlign = (above ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter;
    m_lblTitle->setAlignment(textAlign);
    m_lblSubtitle->setAlignment(textAlign);
    if (above) {
        m_layout->setDirection(QBoxLayout::TopToBottom);
        m_layout->setContentsMargins(4, 8, 4, 8);
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
    const int titleHeight = QFontMetrics(textFont(m_lblTitle, m_titlePx, titleWeight)).height() * titleLines;
    const int subtitleHeight =
        QFontMetrics(textFont(m_lblSubtitle, m_subtitlePx, subtitleWeight)).height() * subtitleLines;
    m_lblTitle->setMinimumHeight(titleHeight);
    m_lblSubtitle->setMinimumHeight(subtitleHeight);
    const int textHeight = titleHeight + subtitleHeight;
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

void QuickServerButton::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
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
