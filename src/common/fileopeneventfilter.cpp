#include "common/fileopeneventfilter.h"

#include <QFileOpenEvent>

namespace Tavrix {

FileOpenEventFilter::FileOpenEventFilter(QObject *parent)
    : QObject(parent)
{
}

bool FileOpenEventFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::FileOpen)
        return QObject::eventFilter(watched, event);

    auto *openEvent = static_cast<QFileOpenEvent *>(event);
    if (!openEvent->url().isEmpty()) {
        m_lastUrl = openEvent->url().toString();
        emit urlOpened(m_lastUrl);
    } else if (!openEvent->file().isEmpty()) {
        emit fileOpened(openEvent->file());
    }
    return false;
}

} // namespace Tavrix
