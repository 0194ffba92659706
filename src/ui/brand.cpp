#include "ui/brand.h"

#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace Tavrix {
namespace Brand {

const char *const red = "#BF1E2E";
const char *const redHover = "#ED1C24";
const char *const text = "#434343";
const char *const mutedText = "#7A7A7A";
const char *const line = "#E4E4E4";

QString labelStyle(int pixelSize, int weight, const char *colour)
{
    return QStringLiteral("font-family: Montserrat; font-size: %1px; font-weight: %2; color: %3;"
                          " background: transparent;")
        .arg(pixelSize)
        .arg(weight)
        .arg(QLatin1String(colour));
}

QString filledButtonStyle()
{
    return QStringLiteral(
               "QPushButton { background: %1; color: white; border: none; border-radius: 19px;"
               " font-family: Montserrat; font-size: 14px; font-weight: 600; padding: 8px 22px; }"
               "QPushButton:hover { background: %2; }"
               "QPushButton:disabled { background: #D9868E; }")
        .arg(QLatin1String(red), QLatin1String(redHover));
}

QString outlinedButtonStyle()
{
    return QStringLiteral(
               "QPushButton { background: white; color: %1; border: 1.5px solid %1; border-radius: 19px;"
               " font-family: Montserrat; font-size: 14px; font-weight: 600; padding: 8px 22px; }"
               "QPushButton:hover { color: %2; border-color: %2; }")
        .arg(QLatin1String(red), QLatin1String(redHover));
}

QString linkButtonStyle()
{
    return QStringLiteral(
               "QPushButton { background: transparent; border: none; color: %1; padding: 0;"
               " font-family: Montserrat; font-size: 13px; font-weight: 600; text-align: left; }"
               "QPushButton:hover { color: %2; text-decoration: underline; }")
        .arg(QLatin1String(red), QLatin1String(redHover));
}

QString lineEditStyle()
{
    return QStringLiteral(
               "QLineEdit { background: transparent; border: none; color: %1;"
               " font-family: Montserrat; font-size: 14px; font-weight: 500; }"
               "QLineEdit:disabled { color: %2; }")
        .arg(QLatin1String(text), QLatin1String(mutedText));
}

void paintPlainBackground(QWidget *widget)
{
    static const QPixmap picture(QStringLiteral(":/assets/white_background.png"));
    QPainter painter(widget);
    painter.fillRect(widget->rect(), Qt::white);
    if (!picture.isNull())
        painter.drawPixmap(widget->rect(), picture);
}

QPushButton *makeBackButton(QWidget *parent)
{
    auto *back = new QPushButton(QIcon(QStringLiteral(":/assets/back.png")), QStringLiteral("Back"), parent);
    back->setObjectName(QStringLiteral("btnBack"));
    back->setCursor(Qt::PointingHandCursor);
    back->setIconSize(QSize(16, 16));
    back->setFlat(true);
    back->setStyleSheet(QStringLiteral(
                            "QPushButton { background: transparent; border: none; color: %1;"
                            " font-family: Montserrat; font-size: 14px; font-weight: 600; }"
                            "QPushButton:hover { color: %2; }")
                            .arg(QLatin1String(text), QLatin1String(red)));
    return back;
}

QLabel *makeTitle(const QString &title, QWidget *parent)
{
    auto *label = new QLabel(title, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(labelStyle(18, 700));
    return label;
}

} // namespace Brand
} // namespace Tavrix
