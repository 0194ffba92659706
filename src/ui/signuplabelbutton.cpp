#include "ui/signuplabelbutton.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/brand.h"

namespace Tavrix {

SignUpLabelButton::SignUpLabelButton(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Tavrix__SignUpLabelButton"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("lbltitle"));
    m_title->setWordWrap(true);

    m_lineOne = new QLabel(this);
    m_lineOne->setObjectName(QStringLiteral("lblSubTextOne"));

    m_lowerRow = new QWidget(this);
    m_lowerRow->setObjectName(QStringLiteral("lowerRow"));
    auto *row = new QHBoxLayout(m_lowerRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    m_lineTwo = new QLabel(m_lowerRow);
    m_lineTwo->setObjectName(QStringLiteral("lblSubTexttwo"));
    auto *link = new QPushButton(QStringLiteral("Sign In"), m_lowerRow);
    link->setObjectName(QStringLiteral("singButton"));
    link->setCursor(Qt::PointingHandCursor);
    link->setFlat(true);
    Brand::setLook(link, "link");
    row->addWidget(m_lineTwo);
    row->addWidget(link);
    row->addStretch();

    column->addWidget(m_title);
    column->addWidget(m_lineOne);
    column->addWidget(m_lowerRow);

    QMetaObject::connectSlotsByName(this);
}

void SignUpLabelButton::setTexts(const QString &title, const QString &lineOne, const QString &lineTwo)
{
    m_title->setText(title);
    const bool lower = !lineOne.isEmpty();
    m_lineOne->setVisible(lower);
    m_lowerRow->setVisible(lower);
    m_lineTwo->setVisible(lower);
    if (lower) {
        m_lineOne->setText(lineOne);
        m_lineTwo->setText(lineTwo);
    }
}

void SignUpLabelButton::on_singButton_pressed()
{
    qDebug() << "click button";
    emit click();
}

} // namespace Tavrix
