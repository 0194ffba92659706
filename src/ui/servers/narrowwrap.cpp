#include "ui/servers/narrowwrap.h"

#include <QEvent>
#include <QLabel>

namespace Tavrix {

NarrowWrap::NarrowWrap(QWidget *card, const QList<QLabel *> &labels)
    : QObject(card)
    , m_card(card)
    , m_labels(labels)
{
    card->installEventFilter(this);
}

bool NarrowWrap::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_card) {
        // Once wrapped the labels stay so while shown: unwrapping as soon as the card grows
        // could widen it again and make the layout swing between the two.
        if (event->type() == QEvent::Resize && !m_wrapped && m_card->width() < m_card->minimumSizeHint().width())
            setWrapped(true);
        else if (event->type() == QEvent::Hide)
            setWrapped(false);
    }
    return false;
}

void NarrowWrap::setWrapped(bool wrapped)
{
    if (wrapped == m_wrapped)
        return;
    m_wrapped = wrapped;
    for (QLabel *label : m_labels)
        label->setWordWrap(wrapped);
}

} // namespace Tavrix
