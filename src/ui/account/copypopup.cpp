#include "ui/account/copypopup.h"

#include <QWidget>

#include "ui/servers/dialog.h"

namespace Tavrix {

void showCopiedPopup(QWidget *near, const QString &text)
{
    auto *popup = new Dialog(near ? near->window() : nullptr);
    popup->setObjectName(QStringLiteral("copiedPopup"));
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setText(text);
    popup->open();
}

} // namespace Tavrix
