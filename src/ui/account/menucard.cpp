#include "ui/account/menucard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QVBoxLayout>

#include "ui/accessibility.h"

namespace Tavrix {

MenuCard::MenuCard(QWidget *parent)
    : QFrame(parent)
{
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(78);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(18, 12, 18, 12);
    row->setSpacing(14);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("lblTitle"));
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("lblText"));
    texts->addWidget(m_title);
    texts->addWidget(m_text);

    m_logo = new QLabel(this);
    m_logo->setObjectName(QStringLiteral("lblLogo"));
    m_logo->setFixedSize(48, 48);

    row->addLayout(texts, 1);
    row->addWidget(m_logo);
    Accessibility::makeClickable(this, QString());
}

void MenuCard::setTitle(const QString &title)
{
    m_title->setText(title);
    setAccessibleName(title);
}

void MenuCard::setText(const QString &text)
{
    m_text->setText(text);
}

void MenuCard::setLogo(const QString &path)
{
    m_logoPath = path;
    m_logo->setPixmap(QPixmap(path).scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

QString MenuCard::title() const
{
    return m_title->text();
}

QString MenuCard::text() const
{
    return m_text->text();
}

void MenuCard::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isEnabled())
        emit clicked();
    QFrame::mousePressEvent(event);
}

} // namespace Tavrix
