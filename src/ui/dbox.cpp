#include "ui/dbox.h"

#include <QDebug>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

#include "platform/compositing.h"
#include "ui/brand.h"

namespace Tavrix {

QPointer<QWidget> DBox::s_parentWindow;

namespace {
// Corner radius of the opaque card, small enough that the unsmoothed window edge reads well;
// the style sheet draws the card's outline with the same radius.
constexpr int opaqueRadius = 14;
} // namespace

DBox::DBox(QWidget *parent)
    : QDialog(parent ? parent : s_parentWindow.data())
{
    setObjectName(QStringLiteral("Tavrix__DBox"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    // A soft shadow needs a translucent margin, which only a compositing desktop shows as
    // such; without one the margin would be drawn black, so the card is the whole window.
    m_translucent = desktopComposites();
    if (m_translucent)
        setAttribute(Qt::WA_TranslucentBackground);

    auto *outer = new QVBoxLayout(this);
    const int margin = m_translucent ? 24 : 0;
    outer->setContentsMargins(margin, margin, margin, margin);

    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    // The card's outline and corners differ with and without the shadow margin.
    frame->setProperty("translucent", m_translucent);
    outer->addWidget(frame);

    if (m_translucent) {
        auto *shadow = new QGraphicsDropShadowEffect(this);
        shadow->setBlurRadius(20);
        shadow->setOffset(1.0, 1.0);
        frame->setGraphicsEffect(shadow);
    }

    auto *column = new QVBoxLayout(frame);
    column->setContentsMargins(28, 26, 28, 22);
    column->setSpacing(14);

    m_title = new QLabel(frame);
    m_title->setObjectName(QStringLiteral("lblTitle"));
    m_title->setAlignment(Qt::AlignCenter);

    m_text = new QLabel(frame);
    m_text->setObjectName(QStringLiteral("lblText"));
    m_text->setAlignment(Qt::AlignCenter);

    for (QLabel *label : {m_title, m_text}) {
        label->setWordWrap(true);
        label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
        label->setMinimumWidth(280);
        label->hide();
        column->addWidget(label);
    }

    m_submit = new QPushButton(frame);
    m_submit->setObjectName(QStringLiteral("btnSubmit"));
    Brand::setLook(m_submit, "filled");
    m_cancel = new QPushButton(frame);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    Brand::setLook(m_cancel, "outlined");

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch();
    for (QPushButton *button : {m_cancel, m_submit}) {
        // Return reaches the dialog, which answers with the focused button.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setCursor(Qt::PointingHandCursor);
        button->setMinimumSize(110, 38);
        button->hide();
        buttons->addWidget(button);
    }
    buttons->addStretch();
    column->addSpacing(4);
    column->addLayout(buttons);

    QMetaObject::connectSlotsByName(this);
}

void DBox::setTitle(const QString &title)
{
    m_title->setText(title);
    m_title->show();
}

void DBox::setText(const QString &text)
{
    m_text->setText(text);
    m_text->show();
}

void DBox::setSubmitText(const QString &text)
{
    m_submit->setText(text);
    m_submit->show();
}

void DBox::setCancelText(const QString &text)
{
    m_cancel->setText(text);
    m_cancel->show();
}

void DBox::setParentWindow(QWidget *window)
{
    s_parentWindow = window;
}

QWidget *DBox::parentWindow()
{
    return s_parentWindow.data();
}

void DBox::on_btnSubmit_pressed()
{
    emit submit();
    close();
}

void DBox::on_btnCancel_pressed()
{
    emit cancel();
    close();
}

void DBox::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (m_translucent)
        return;
    // Opaque: round the window itself.
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), opaqueRadius, opaqueRadius);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void DBox::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    // From the keyboard: Enter answers with the focused button (the submit button at first),
    // Escape declines (or, in a box with a single answer, acknowledges).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        qDebug() << "enter button press";
        if (focusWidget() == m_cancel)
            on_btnCancel_pressed();
        else
            on_btnSubmit_pressed();
    } else if (event->key() == Qt::Key_Escape) {
        if (m_cancel->isVisible())
            on_btnCancel_pressed();
        else
            on_btnSubmit_pressed();
    }
}

void DBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_submit->setFocus();
}

} // namespace Tavrix
