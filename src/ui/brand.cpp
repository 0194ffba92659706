#include "ui/brand.h"

#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
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

namespace {
// Re-applies the placeholder colour whenever a style sheet has set the field's palette.
class PlaceholderColour : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Polish || event->type() == QEvent::PaletteChange) {
            auto *widget = static_cast<QWidget *>(watched);
            const QColor muted{QLatin1String(mutedText)};
            QPalette palette = widget->palette();
            if (palette.color(QPalette::PlaceholderText) != muted) {
                palette.setColor(QPalette::PlaceholderText, muted);
                widget->setPalette(palette);
            }
        }
        return false;
    }
};
} // namespace

QString fontWeight(int cssWeight)
{
    // Qt 5 style sheets divide a numeric weight by 8 to get a QFont weight, so "700" would
    // pick the Black face. Give the number that lands on the face the CSS weight names.
    static const int faces[] = {QFont::Thin,     QFont::ExtraLight, QFont::Light,     QFont::Normal, QFont::Medium,
                                QFont::DemiBold, QFont::Bold,       QFont::ExtraBold, QFont::Black};
    const int index = qBound(0, (cssWeight + 50) / 100 - 1, 8);
    return QStringLiteral("font-weight: %1").arg(faces[index] * 8);
}

QString labelStyle(int pixelSize, int weight, const char *colour)
{
    return QStringLiteral("font-family: Montserrat; font-size: %1px; %2; color: %3; background: transparent;")
        .arg(pixelSize)
        .arg(fontWeight(weight), QLatin1String(colour));
}

QString filledButtonStyle()
{
    return QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 19px;"
                          " font-family: Montserrat; font-size: 14px; %3; padding: 8px 22px; }"
                          "QPushButton:hover { background: %2; }"
                          "QPushButton:disabled { background: #D9868E; }")
        .arg(QLatin1String(red), QLatin1String(redHover), fontWeight(600));
}

QString outlinedButtonStyle()
{
    return QStringLiteral("QPushButton { background: white; color: %1; border: 1.5px solid %1; border-radius: 19px;"
                          " font-family: Montserrat; font-size: 14px; %3; padding: 8px 22px; }"
                          "QPushButton:hover { color: %2; border-color: %2; }")
        .arg(QLatin1String(red), QLatin1String(redHover), fontWeight(600));
}

QString linkButtonStyle()
{
    return QStringLiteral("QPushButton { background: transparent; border: none; color: %1; padding: 0;"
                          " font-family: Montserrat; font-size: 13px; %3; text-align: left; }"
                          "QPushButton:hover { color: %2; text-decoration: underline; }")
        .arg(QLatin1String(red), QLatin1String(redHover), fontWeight(600));
}

QString lineEditStyle()
{
    return QStringLiteral("QLineEdit { background: transparent; border: none; color: %1;"
                          " font-family: Montserrat; font-size: 14px; %3; }"
                          "QLineEdit:disabled { color: %2; }")
        .arg(QLatin1String(text), QLatin1String(mutedText), fontWeight(500));
}

namespace {

// The background as painted at one size; the full picture (1200 x 800, 3.7 MB decoded) is
// only held while that is drawn.
QPixmap &plainBackground()
{
    static QPixmap rendered;
    return rendered;
}

} // namespace

void paintPlainBackground(QWidget *widget)
{
    QPixmap &rendered = plainBackground();
    if (rendered.size() != widget->size()) {
        rendered = QPixmap(widget->size());
        const QPixmap picture = uncachedPixmap(QStringLiteral(":/assets/white_background.png"));
        QPainter painter(&rendered);
        painter.fillRect(rendered.rect(), Qt::white);
        if (!picture.isNull())
            painter.drawPixmap(rendered.rect(), picture);
    }
    QPainter painter(widget);
    painter.drawPixmap(0, 0, rendered);
}

void releasePlainBackground()
{
    plainBackground() = QPixmap();
}

QPixmap uncachedPixmap(const QString &path)
{
    return QPixmap::fromImage(QImage(path));
}

void mutePlaceholder(QLineEdit *edit)
{
    edit->installEventFilter(new PlaceholderColour(edit));
}

QPushButton *makeBackButton(QWidget *parent)
{
    auto *back = new QPushButton(QIcon(QStringLiteral(":/assets/back.png")), QStringLiteral("Back"), parent);
    back->setObjectName(QStringLiteral("btnBack"));
    back->setCursor(Qt::PointingHandCursor);
    back->setIconSize(QSize(16, 16));
    back->setFlat(true);
    back->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; color: %1;"
                                       " font-family: Montserrat; font-size: 14px; %3; }"
                                       "QPushButton:hover { color: %2; }")
                            .arg(QLatin1String(text), QLatin1String(red), fontWeight(600)));
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
