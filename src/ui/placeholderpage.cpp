#include "ui/placeholderpage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "common/config.h"
#include "ui/brand.h"

namespace Tavrix {

PlaceholderPage::PlaceholderPage(const QString &title, int rememberedSide, QWidget *parent)
    : QWidget(parent)
    , m_rememberedSide(rememberedSide)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 16, 20, 16);
    column->setSpacing(12);

    auto *header = new QHBoxLayout;
    m_back = Brand::makeBackButton(this);
    auto *titleLabel = Brand::makeTitle(title, this);
    titleLabel->setObjectName(QStringLiteral("lblPageTitle"));
    // A long title takes two lines in the narrow side panel of the smallest window.
    titleLabel->setWordWrap(true);
    header->addWidget(m_back);
    header->addWidget(titleLabel, 1);
    // Keeps the title centred against the back button.
    header->addSpacing(m_back->sizeHint().width());
    column->addLayout(header);

    m_body = new QVBoxLayout;
    column->addLayout(m_body, 1);
    column->addStretch();
}

void PlaceholderPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_rememberedSide < 0)
        return;
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            Config::instance()->saveState(m_rememberedSide, 0);
    });
}

} // namespace Tavrix
