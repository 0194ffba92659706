#include "ui/servers/serverselectionpage.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "common/config.h"

namespace Tavrix {

ServerSelectionPage::ServerSelectionPage(QWidget *parent)
    : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 16, 20, 16);
    auto *header = new QHBoxLayout;
    auto *menu = new QPushButton(QIcon(QStringLiteral(":/assets/menu.png")), QString(), this);
    menu->setObjectName(QStringLiteral("btnManu"));
    menu->setCursor(Qt::PointingHandCursor);
    menu->setFlat(true);
    menu->setIconSize(QSize(22, 22));
    auto *title = new QLabel(QStringLiteral("Servers"), this);
    title->setObjectName(QStringLiteral("lblServers"));
    title->setStyleSheet(QStringLiteral("font-family: Montserrat; font-size: 18px; font-weight: 700; color: #434343;"));
    header->addWidget(menu);
    header->addWidget(title, 1);
    column->addLayout(header);
    column->addStretch();
    QMetaObject::connectSlotsByName(this);
}

void ServerSelectionPage::on_btnManu_pressed()
{
    emit menueButtonClick();
}

void ServerSelectionPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            Config::instance()->saveState(0, 0);
    });
}

} // namespace Tavrix
