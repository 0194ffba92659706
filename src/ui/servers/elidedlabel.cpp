#include "ui/servers/elidedlabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace Tavrix {

ElidedLabel::ElidedLabel(QWidget *parent)
    : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

ElidedLabel::ElidedLabel(const QString &text, QWidget *parent)
    : ElidedLabel(parent)
{
    setText(text);
}

QStringList ElidedLabel::lines() const
{
    const QFontMetrics metrics = fontMetrics();
    const int width = contentsRect().width();
    const QString whole = text();
    if (!m_twoLines || metrics.horizontalAdvance(whole) <= width)
        return {metrics.elidedText(whole, Qt::ElideRight, width)};
    // As many words as fit on the first line; the rest, cut if need be, on the second.
    const QStringList words = whole.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString first;
    int used = 0;
    for (; used < words.size(); ++used) {
        const QString candidate = first.isEmpty() ? words.at(used) : first + QLatin1Char(' ') + words.at(used);
        if (metrics.horizontalAdvance(candidate) > width)
            break;
        first = candidate;
    }
    if (used == 0 || used == words.size())
        return {metrics.elidedText(whole, Qt::ElideRight, width)};
    const QString rest = words.mid(used).join(QLatin1Char(' '));
    return {first, metrics.elidedText(rest, Qt::ElideRight, width)};
}

QString ElidedLabel::displayedText() const
{
    return lines().join(QLatin1Char('\n'));
}

void ElidedLabel::setTwoLines(bool on)
{
    if (m_twoLines == on)
        return;
    m_twoLines = on;
    update();
}

QSize ElidedLabel::minimumSizeHint() const
{
    if (sizePolicy().horizontalPolicy() != QSizePolicy::Ignored)
        return QLabel::minimumSizeHint();
    // Room for the ellipsis; the layout hands out the rest.
    return QSize(fontMetrics().horizontalAdvance(QStringLiteral("W\u2026")), QLabel::minimumSizeHint().height());
}

bool ElidedLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        auto *help = static_cast<QHelpEvent *>(event);
        if (QString(displayedText()).replace(QLatin1Char('\n'), QLatin1Char(' ')) != text())
            QToolTip::showText(help->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

void ElidedLabel::paintEvent(QPaintEvent *event)
{
    if (text().isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    const QStringList shown = lines();
    const int lineHeight = fontMetrics().height();
    QRect area = contentsRect();
    // The block of lines sits where the alignment puts a single line.
    const int block = lineHeight * shown.size();
    if (alignment() & Qt::AlignVCenter)
        area.setTop(area.top() + (area.height() - block) / 2);
    else if (alignment() & Qt::AlignBottom)
        area.setTop(area.bottom() - block);
    const Qt::Alignment horizontal = QStyle::visualAlignment(layoutDirection(), alignment()) & Qt::AlignHorizontal_Mask;
    for (const QString &line : shown) {
        style()->drawItemText(&painter, QRect(area.left(), area.top(), area.width(), lineHeight),
                              horizontal | Qt::AlignVCenter, palette(), isEnabled(), line, foregroundRole());
        area.setTop(area.top() + lineHeight);
    }
}

} // namespace Tavrix
