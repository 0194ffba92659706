#pragma once

#include <QWidget>

namespace Tavrix {

// The main window: four pages and the tray. Start-up hands it "Yes" when a login link
// was accepted, "Not" otherwise.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    explicit MainWindow(const QString &autoLoginFromLink, QWidget *parent = nullptr);
};

} // namespace Tavrix
