#include "ui/servers/connectpage.h"

#include <QConicalGradient>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/servers/statsindicator.h"

namespace Tavrix {

namespace {

const QColor kBrandRed(191, 30, 46);
const QString kTextGrey = QStringLiteral("#434343");

QLabel *makeLabel(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    return label;
}

} // namespace

ConnectPage::ConnectPage(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("connectPage"));
    buildUi();

    m_statsTimer.setInterval(1500);
    m_animationTimer.setInterval(10);
    connect(&m_statsTimer, &QTimer::timeout, this, &ConnectPage::onStatsTimeout);
    connect(&m_animationTimer, &QTimer::timeout, this, &ConnectPage::onAnimationTimeout);
    connect(m_btnConnect, &QPushButton::pressed, this, &ConnectPage::btnConnect_clicked);
}

void ConnectPage::buildUi()
{
    m_homeImageWidget = new QWidget(this);
    m_homeImageWidget->setObjectName(QStringLiteral("homeImageWidget"));
    auto *bannerLayout = new QVBoxLayout(m_homeImageWidget);
    bannerLayout->setContentsMargins(0, 0, 0, 0);

    m_btnConnect = new QPushButton(this);
    m_btnConnect->setObjectName(QStringLiteral("btnConnect"));
    m_btnConnect->setIcon(QIcon(QStringLiteral(":/assets/disconnected.png")));
    m_btnConnect->setIconSize(QSize(130, 130));
    // Four pixels wider than tall, so that the status ring sits centred around it.
    m_btnConnect->setFixedSize(144, 140);
    m_btnConnect->setCursor(Qt::PointingHandCursor);
    m_btnConnect->setFlat(true);
    m_btnConnect->setFocusPolicy(Qt::NoFocus);
    m_btnConnect->setStyleSheet(QStringLiteral(
        "QPushButton { border: none; background: transparent; }"));

    m_lblProtectedLogo = makeLabel(QStringLiteral("lblProtectedLogo"), this);
    m_lblProtectedText = makeLabel(QStringLiteral("lblProtectedText"), this);
    m_lblIPLogo = makeLabel(QStringLiteral("lblIPLogo"), this);
    m_lblSelectionIp = makeLabel(QStringLiteral("lblSelectionIp"), this);
    m_lblProtectedLogo->setPixmap(QPixmap(QStringLiteral(":/assets/not-protected.png")).scaledToHeight(30, Qt::SmoothTransformation));
    m_lblIPLogo->setPixmap(QPixmap(QStringLiteral(":/assets/ip-icon.png")).scaledToHeight(30, Qt::SmoothTransformation));
    m_lblProtectedText->setText(QStringLiteral("Not Protected"));
    m_lblSelectionIp->setText(QStringLiteral("Checking your address..."));

    m_serverButton = new QWidget(this);
    m_serverButton->setObjectName(QStringLiteral("serverButton"));

    m_statsWidget = new StatsIndicator(this);
    // Hidden while not connected, but the layout keeps its place so nothing jumps.
    QSizePolicy keep = m_statsWidget->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_statsWidget->setSizePolicy(keep);
    m_statsWidget->hide();

    m_lblVersion = makeLabel(QStringLiteral("lblVersion"), this);
    m_lblVersion->setText(QStringLiteral("Version: 2.0"));
    m_lblVersion->setAlignment(Qt::AlignCenter);

    auto *protectedRow = new QHBoxLayout;
    protectedRow->setSpacing(8);
    protectedRow->addStretch();
    protectedRow->addWidget(m_lblProtectedLogo);
    protectedRow->addWidget(m_lblProtectedText);
    protectedRow->addStretch();

    auto *ipRow = new QHBoxLayout;
    ipRow->setSpacing(8);
    ipRow->addStretch();
    ipRow->addWidget(m_lblIPLogo);
    ipRow->addWidget(m_lblSelectionIp);
    ipRow->addStretch();

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_btnConnect);
    buttonRow->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 16, 28, 10);
    layout->setSpacing(10);
    layout->addWidget(m_homeImageWidget);
    layout->addStretch(1);
    layout->addLayout(buttonRow);
    layout->addSpacing(6);
    layout->addLayout(protectedRow);
    layout->addLayout(ipRow);
    layout->addStretch(1);
    layout->addWidget(m_serverButton);
    layout->addWidget(m_statsWidget);
    layout->addWidget(m_lblVersion);
}

void ConnectPage::requestConnect(bool switchServer)
{
    if (switchServer && m_pageStatus != 0)
        m_reconnectPending = true;
    btnConnect_clicked();
}

void ConnectPage::btnConnect_clicked()
{
}

void ConnectPage::on_btnLogout_clicked()
{
    emit logout();
}

void ConnectPage::onStatsTimeout()
{
}

void ConnectPage::onAnimationTimeout()
{
    if (m_ringAngle - 3 < 0)
        m_ringAngle = 360;
    else
        m_ringAngle -= 3;
    update();
}

void ConnectPage::setServerButton()
{
}

void ConnectPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, &ConnectPage::refreshVersion);
}

void ConnectPage::refreshVersion()
{
    const QString version = QSettings(QStringLiteral("Quennark"), QStringLiteral("TavrixVPN"))
                                .value(QStringLiteral("app/version"), QStringLiteral("0.0.0"))
                                .toString();
    m_lblVersion->setText(QStringLiteral("Version: ") + version);
}

void ConnectPage::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (m_pageStatus != 1 && m_pageStatus != 2)
        return;

    const QPoint origin = m_btnConnect->mapTo(this, QPoint(0, 0));
    const int x = origin.x();
    const int y = origin.y();
    const int h = m_btnConnect->height();

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF square;
    QConicalGradient gradient;
    int start = 0;
    int span = 0;
    qreal width = 0;
    if (m_pageStatus == 1) {
        square = QRectF(x - 2, y - 4, h + 8, h + 8);
        gradient = QConicalGradient(square.center(), m_ringAngle);
        gradient.setColorAt(0, kBrandRed);
        gradient.setColorAt(0.6, Qt::transparent);
        gradient.setColorAt(1, Qt::transparent);
        width = 3;
        start = -1440;
        span = 5760;
    } else {
        square = QRectF(x, y - 2, h + 4, h + 4);
        gradient = QConicalGradient(square.center(), m_ringAngle);
        const QColor green(0, 128, 0);
        gradient.setColorAt(0, green);
        gradient.setColorAt(0.5, green);
        gradient.setColorAt(1, green);
        width = 4;
        start = 1435;
        span = -5760;
    }
    QPen pen(QBrush(gradient), width);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.drawArc(square, start, span);
}

} // namespace Tavrix
