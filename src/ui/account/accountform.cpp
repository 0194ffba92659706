#include "ui/account/accountform.h"

#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/brand.h"

namespace Tavrix {
namespace AccountForm {

QLabel *picture(const QString &resource, int side, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QStringLiteral("lblPicture"));
    label->setAlignment(Qt::AlignCenter);
    const qreal ratio = parent ? parent->devicePixelRatioF() : 1.0;
    QPixmap pixmap = QPixmap(resource).scaled(QSize(side, side) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    pixmap.setDevicePixelRatio(ratio);
    label->setPixmap(pixmap);
    return label;
}

QLabel *text(const QString &content, const char *objectName, QWidget *parent)
{
    auto *label = new QLabel(content, parent);
    label->setObjectName(QLatin1String(objectName));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

QLineEdit *codeField(const QString &placeholder, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("editCode"));
    edit->setPlaceholderText(placeholder);
    edit->setAccessibleName(placeholder);
    edit->setMinimumHeight(44);
    Brand::mutePlaceholder(edit);
    return edit;
}

QPushButton *primaryButton(const QString &content, const char *objectName, QWidget *parent)
{
    auto *button = new QPushButton(content, parent);
    button->setObjectName(QLatin1String(objectName));
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumHeight(44);
    return button;
}

QWidget *loader(QWidget *parent)
{
    auto *widget = new QWidget(parent);
    widget->setObjectName(QStringLiteral("loaderWidget"));
    auto *column = new QVBoxLayout(widget);
    column->setAlignment(Qt::AlignCenter);
    auto *spinner = new QPushButton(widget);
    spinner->setObjectName(QStringLiteral("btnloader"));
    spinner->setFlat(true);
    spinner->setFixedSize(44, 44);
    spinner->setFocusPolicy(Qt::NoFocus);
    spinner->setAccessibleName(QStringLiteral("Loading"));
    column->addWidget(spinner, 0, Qt::AlignHCenter);
    column->addWidget(text(QStringLiteral("Loading…"), "lblLoading", widget));
    widget->hide();
    return widget;
}

} // namespace AccountForm
} // namespace Tavrix
