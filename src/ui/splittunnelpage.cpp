#include "ui/splittunnelpage.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDebug>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMovie>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "common/config.h"
#include "platform/splitter.h"
#include "protection/splittunnelcontrol.h"
#include "ui/brand.h"
#include "ui/splittunnelwidget.h"

namespace Tavrix {

namespace {

// Base names shown in any list, for the whole run: every application gets one row.
QSet<QString> &shownNames()
{
    static QSet<QString> names;
    return names;
}

std::function<QStringList()> &programSource()
{
    static std::function<QStringList()> source = &Splitter::runningExecutables;
    return source;
}

QVector<SplitTunnelPage::Application> listApplications(const std::function<QStringList()> &source)
{
    return SplitTunnelControl::listableApplications(source());
}

QIcon applicationIcon(const SplitTunnelPage::Application &application)
{
    QIcon icon;
    if (!application.iconName.isEmpty()) {
        icon = QFileInfo(application.iconName).isAbsolute() ? QIcon(application.iconName)
                                                            : QIcon::fromTheme(application.iconName);
    }
    if (icon.isNull())
        icon = QFileIconProvider().icon(QFileInfo(application.path));
    // Without a desktop icon theme (a bare window manager) nothing above may answer; a program
    // is listed all the same, with the style's generic file icon.
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return icon;
}

} // namespace

SplitTunnelPage::SplitTunnelPage(QWidget *parent)
    : PlaceholderPage(QStringLiteral("Split Tunnel"), -1, parent)
{
    setObjectName(QStringLiteral("splitTunelPage"));
    connect(backButton(), &QPushButton::pressed, this, &SplitTunnelPage::on_btnBack_pressed);

    // Two rows, so that the tabs keep their whole names in the smallest window.
    auto *tools = new QHBoxLayout;
    m_allowedTab = new QPushButton(QStringLiteral("Allowed Apps"), this);
    m_allowedTab->setObjectName(QStringLiteral("allowedAppButton"));
    m_disallowedTab = new QPushButton(QStringLiteral("Disallowed Apps"), this);
    m_disallowedTab->setObjectName(QStringLiteral("disalledAppButton"));
    auto *tabs = new QButtonGroup(this);
    for (QPushButton *tab : {m_allowedTab, m_disallowedTab}) {
        tab->setCheckable(true);
        tab->setCursor(Qt::PointingHandCursor);
        tab->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        tabs->addButton(tab);
        tools->addWidget(tab);
    }
    body()->addLayout(tools);
    auto *actions = new QHBoxLayout;
    m_busy = new QPushButton(this);
    m_busy->setObjectName(QStringLiteral("btnBusy"));
    m_busy->setFlat(true);
    m_busy->setAccessibleName(QStringLiteral("Loading"));
    m_busy->setFixedSize(36, 36);
    m_busy->hide();
    actions->addWidget(m_busy);
    actions->addStretch(1);
    auto *browse = new QPushButton(QStringLiteral("Browse apps"), this);
    browse->setObjectName(QStringLiteral("btnBrowse"));
    browse->setCursor(Qt::PointingHandCursor);
    actions->addWidget(browse);
    body()->addLayout(actions);
    Brand::setLook(browse, "link");

    m_lists = new QStackedWidget(this);
    m_lists->setObjectName(QStringLiteral("stackedWidget"));
    for (int i = 0; i < 2; ++i) {
        m_scrolls[i] = new QScrollArea(m_lists);
        m_scrolls[i]->setObjectName(i == 0 ? QStringLiteral("allowedAppsArea") : QStringLiteral("disallowedAppsArea"));
        m_scrolls[i]->setWidgetResizable(true);
        // Long names are cut at the row's edge rather than widening the list.
        m_scrolls[i]->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_scrolls[i]->setFrameShape(QFrame::NoFrame);
        m_listBodies[i] = new QWidget(m_scrolls[i]);
        m_listBodies[i]->setObjectName(i == 0 ? QStringLiteral("allowedApps") : QStringLiteral("disallowedApps"));
        auto *column = new QVBoxLayout(m_listBodies[i]);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(4);
        column->addStretch(1);
        m_scrolls[i]->setWidget(m_listBodies[i]);
        m_lists->addWidget(m_scrolls[i]);
    }
    body()->addWidget(m_lists, 1);

    m_movie = new QMovie(QStringLiteral(":/assets/Spinner-1s-50px.gif"), QByteArray(), this);
    connect(m_movie, &QMovie::frameChanged, this, [this] {
        const int side = m_busy->height();
        m_busy->setIcon(QIcon(m_movie->currentPixmap().scaled(side, side, Qt::KeepAspectRatio)));
        m_busy->setIconSize(QSize(80, 80));
        m_busy->setText(QString());
    });
    connect(m_allowedTab, &QPushButton::pressed, this, &SplitTunnelPage::on_allowedAppButton_pressed);
    connect(m_disallowedTab, &QPushButton::pressed, this, &SplitTunnelPage::on_disalledAppButton_pressed);
    connect(browse, &QPushButton::clicked, this, &SplitTunnelPage::browseApps);
    connect(&m_listing, &QFutureWatcher<QVector<Application>>::finished, this, [this] {
        setBusy(false);
        qDebug() << "PowerShell process exited with code:" << 0;
        showApplications(m_listing.result());
    });
    m_allowedTab->setChecked(true);
}

void SplitTunnelPage::setProgramSource(std::function<QStringList()> source)
{
    programSource() = source ? std::move(source) : std::function<QStringList()>(&Splitter::runningExecutables);
}

void SplitTunnelPage::on_btnBack_pressed()
{
    emit btnBackClick();
}

void SplitTunnelPage::on_allowedAppButton_pressed()
{
    m_allowedTab->setChecked(true);
    m_lists->setCurrentIndex(0);
    m_scrolls[0]->verticalScrollBar()->setValue(0);
}

void SplitTunnelPage::on_disalledAppButton_pressed()
{
    m_disallowedTab->setChecked(true);
    m_lists->setCurrentIndex(1);
    m_scrolls[1]->verticalScrollBar()->setValue(0);
}

void SplitTunnelPage::connectSplitTunnel()
{
    SplitTunnelControl::applyAsync(SplitTunnelControl::currentSelection());
}

void SplitTunnelPage::showEvent(QShowEvent *event)
{
    PlaceholderPage::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        on_allowedAppButton_pressed();
        startListing();
    });
}

void SplitTunnelPage::startListing()
{
    if (m_listing.isRunning())
        return;
    setBusy(true);
    // Reading every running program's path and the desktop entries can take a moment.
    m_listing.setFuture(QtConcurrent::run(&listApplications, programSource()));
}

void SplitTunnelPage::setBusy(bool busy)
{
    m_busy->setVisible(busy);
    if (busy)
        m_movie->start();
    else
        m_movie->stop();
}

void SplitTunnelPage::showApplications(const QVector<Application> &applications)
{
    if (applications.isEmpty()) {
        qDebug() << "No valid process paths found.";
        return;
    }
    for (const Application &application : applications) {
        const QIcon icon = applicationIcon(application);
        if (icon.isNull()) {
            qDebug() << "No icon found for path:" << application.path;
            continue;
        }
        addRow(icon, application.path, application.name);
    }
}

void SplitTunnelPage::addRow(const QIcon &icon, const QString &path, const QString &title)
{
    const QString name = Splitter::selectionName(path);
    if (name.isEmpty() || shownNames().contains(name))
        return;
    shownNames().insert(name);
    const bool selected = Config::splitTunnelApp(name);
    auto *row =
        new SplitTunnelWidget(icon, path, title.isEmpty() ? name : title, selected, m_listBodies[selected ? 1 : 0]);
    auto *column = static_cast<QVBoxLayout *>(m_listBodies[selected ? 1 : 0]->layout());
    column->insertWidget(column->count() - 1, row);
    m_rows.insert(name, row);
    connect(row, &SplitTunnelWidget::clicked, this, &SplitTunnelPage::onRowClicked);
}

void SplitTunnelPage::onRowClicked(const QString &processName, bool isAllowed)
{
    const bool selected = Config::splitTunnelApp(processName);
    QStringList chosen = Config::clickedProcesses();
    qDebug().noquote() << processName + QStringLiteral(" is allowed::") + (isAllowed ? "true" : "false");
    SplitTunnelWidget *row = m_rows.value(processName);
    if (row) {
        QWidget *target = m_listBodies[selected ? 1 : 0];
        auto *column = static_cast<QVBoxLayout *>(target->layout());
        row->setParent(target);
        column->insertWidget(column->count() - 1, row);
        row->show();
    }
    if (selected)
        chosen.append(processName);
    else
        chosen.removeAll(processName);
    Config::setClickedProcesses(chosen);
    SplitTunnelControl::applyAsync(chosen);
}

void SplitTunnelPage::browseApps()
{
    QString filter = QStringLiteral("All Files (*)");
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Select Application"), QString(),
                                     QStringLiteral("Executable Files (*.exe);;All Files (*)"), &filter);
    if (path.isEmpty()) {
        qDebug() << "selected app empty";
        return;
    }
    qDebug() << "selected app::" << path;
    // A user who browses for an application expects to see it listed, ready to be chosen.
    addRow(QFileIconProvider().icon(QFileInfo(path)), path, QString());
}

} // namespace Tavrix
