#pragma once

#include <QFutureWatcher>
#include <QHash>
#include <QStringList>

#include <functional>

#include "platform/splitter.h"
#include "ui/placeholderpage.h"

class QMovie;
class QPushButton;
class QScrollArea;
class QStackedWidget;

namespace Tavrix {

class SplitTunnelWidget;

// The applications that bypass the tunnel. "Allowed Apps" lists the running applications that
// use the tunnel, "Disallowed Apps" the chosen ones that bypass it; a click on a row moves it
// across and applies the new choice at once.
class SplitTunnelPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit SplitTunnelPage(QWidget *parent = nullptr);

    // Applications found by a listing: path, name and icon of their desktop entry.
    using Application = Splitter::Application;

    // Tests: where the running programs' paths come from (the system by default).
    static void setProgramSource(std::function<QStringList()> source);

signals:
    void btnBackClick();

public slots:
    void on_btnBack_pressed();
    void on_allowedAppButton_pressed();
    void on_disalledAppButton_pressed();
    // Applies the stored selection of applications.
    void connectSplitTunnel();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void startListing();
    void showApplications(const QVector<Application> &applications);
    void addRow(const QIcon &icon, const QString &path, const QString &title);
    void onRowClicked(const QString &processName, bool isAllowed);
    void browseApps();
    void setBusy(bool busy);

    QPushButton *m_allowedTab;
    QPushButton *m_disallowedTab;
    QPushButton *m_busy;
    QStackedWidget *m_lists;
    QScrollArea *m_scrolls[2];
    QWidget *m_listBodies[2];
    QMovie *m_movie;
    QFutureWatcher<QVector<Application>> m_listing;
    QHash<QString, SplitTunnelWidget *> m_rows;
};

} // namespace Tavrix
