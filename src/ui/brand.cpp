#include "ui/brand.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QVariant>

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

void setLook(QWidget *widget, const char *look)
{
    widget->setProperty("look", QLatin1String(look));
}

void setStyleState(QWidget *widget, const char *property, const QVariant &value)
{
    if (widget->property(property) == value)
        return;
    widget->setProperty(property, value);
    // The sheet matches properties when a widget is polished, so polish it again.
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
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

ScrollingPage makeScrollingPage(QWidget *page, const QString &title, const QString &titleName)
{
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(20, 16, 12, 16);
    column->setSpacing(12);

    auto *header = new QHBoxLayout;
    auto *back = makeBackButton(page);
    auto *label = makeTitle(title, page);
    label->setObjectName(titleName);
    header->addWidget(back);
    header->addWidget(label, 1);
    header->addSpacing(back->sizeHint().width());
    column->addLayout(header);

    ScrollingPage parts;
    parts.scrollArea = new QScrollArea(page);
    parts.scrollArea->setObjectName(QStringLiteral("scrollArea"));
    parts.scrollArea->setWidgetResizable(true);
    parts.scrollArea->setFrameShape(QFrame::NoFrame);
    parts.scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    parts.scrollArea->verticalScrollBar()->setFixedHeight(80);
    parts.content = new QWidget(parts.scrollArea);
    parts.content->setObjectName(QStringLiteral("scrollAreaWidgetContents"));
    parts.items = new QVBoxLayout(parts.content);
    parts.items->setContentsMargins(0, 0, 8, 0);
    parts.items->setSpacing(10);
    parts.scrollArea->setWidget(parts.content);
    column->addWidget(parts.scrollArea, 1);
    return parts;
}

QPushButton *makeBackButton(QWidget *parent)
{
    auto *back = new QPushButton(QIcon(QStringLiteral(":/assets/back.png")), QStringLiteral("Back"), parent);
    back->setObjectName(QStringLiteral("btnBack"));
    back->setCursor(Qt::PointingHandCursor);
    back->setIconSize(QSize(16, 16));
    back->setFlat(true);
    return back;
}

QLabel *makeTitle(const QString &title, QWidget *parent)
{
    auto *label = new QLabel(title, parent);
    label->setAlignment(Qt::AlignCenter);
    setLook(label, "pageTitle");
    return label;
}

} // namespace Brand
} // namespace Tavrix
