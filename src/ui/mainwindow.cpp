#include "ui/mainwindow.h"

namespace Tavrix {

MainWindow::MainWindow(const QString &autoLoginFromLink, QWidget *parent)
    : QWidget(parent)
{
    Q_UNUSED(autoLoginFromLink)
    setObjectName(QStringLiteral("MainWindow"));
}

} // namespace Tavrix
