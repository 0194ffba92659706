#include "ui/splittunnelwidget.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "common/config.h"
#include "platform/splitter.h"
#include "protection/splittunnelcontrol.h"
#include "ui/accessibility.h"
#include "ui/brand.h"

namespace Tavrix {

SplitTunnelWidget::SplitTunnelWidget(const QIcon &icon, const QString &path, const QString &title, bool selected,
                                     QWidget *parent)
    : QWidget(parent)
    , m_processName(Splitter::selectionName(path))
    , m_path(path)
    , m_selected(selected)
{
    setObjectName(QStringLiteral("splitTunnelWidget"));
    setCursor(Qt::PointingHandCursor);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(12);
    auto *iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("lblAppIcon"));
    iconLabel->setPixmap(icon.pixmap(30, 30));
    iconLabel->setFixedSize(30, 30);
    row->addWidget(iconLabel);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_name = new QLabel(title, this);
    m_name->setObjectName(QStringLiteral("lblAppName"));
    m_pathLabel = new QLabel(SplitTunnelControl::displayPath(path), this);
    m_pathLabel->setObjectName(QStringLiteral("lblAppPath"));
    m_pathLabel->setToolTip(path);
    // The row may be narrower than a long name or path: the labels give way instead of
    // widening the list.
    for (QLabel *label : {m_name, m_pathLabel}) {
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        label->setMinimumWidth(0);
    }
    texts->addWidget(m_name);
    texts->addWidget(m_pathLabel);
    row->addLayout(texts, 1);

    m_action = new QLabel(this);
    m_action->setObjectName(QStringLiteral("lblAppAction"));
    m_action->setFixedSize(20, 20);
    row->addWidget(m_action);
    refreshLook();
    Accessibility::makeClickable(this, m_processName, QAccessible::CheckBox);
}

void SplitTunnelWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_selected = !m_selected;
    refreshLook();
    Config::setSplitTunnelApp(m_processName, m_selected);
    emit clicked(m_processName, m_selected);
}

void SplitTunnelWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refreshLook();
}

void SplitTunnelWidget::refreshLook()
{
    Accessibility::setChecked(this, m_selected);
    // White over the connected background, dark grey over the plain one.
    const bool light = Config::instance()->connectionState();
    Brand::setStyleState(m_name, "light", light);
    Brand::setStyleState(m_pathLabel, "light", light);
    QString icon;
    if (light)
        icon = m_selected ? QStringLiteral(":/assets/splitTunnel/white_cross.png")
                          : QStringLiteral(":/assets/splitTunnel/white_add.png");
    else
        icon = m_selected ? QStringLiteral(":/assets/splitTunnel/black-cross.png")
                          : QStringLiteral(":/assets/splitTunnel/black_add.png");
    m_action->setPixmap(QIcon(icon).pixmap(20, 20));
}

} // namespace Tavrix
