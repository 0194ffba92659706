#include "ui/servers/serverselectionpage.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMap>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QShowEvent>
#include <QUrl>

#include "common/config.h"
#include "common/countryflags.h"
#include "common/user.h"
#include "ui/dbox.h"
#include "ui/servers/serverlisticons.h"
#include "ui/servers/treechilditem.h"
#include "ui/servers/treeparentitem.h"
#include "ui/webaddresses.h"
#include "ui_serverselectionpage.h"

namespace Tavrix {

namespace {

// Item data of column 0 besides the kind.
const int BundleIndexRole = Qt::UserRole + 2; // server row: index into the page's bundles
const int GroupNameRole = Qt::UserRole + 3;   // header: group name
const int GroupCodeRole = Qt::UserRole + 4;   // header: category or country code
const int PlaceRole = Qt::UserRole + 5;       // server row: PlaceFirst | PlaceLast
const int PlaceFirst = 1;
const int PlaceLast = 2;

const int rebuildDelayMs = 100;
// Rows made beyond the bottom edge, so a scroll step shows finished rows.
const int overscanPixels = 240;
// Widgets further than this from the visible area are given back, so that a long scroll
// through a big group keeps a screenful of row widgets rather than a thousand (the view moves
// every one of them on each scroll step).
const int keepPixels = 600;

struct Category
{
    const char *name;
    int code;
    bool (*isMember)(const IPBundle &bundle, const QSet<int> &favourites);
};

const Category categories[] = {
    {"Loyalty Server", LoyalCategory, [](const IPBundle &b, const QSet<int> &) { return b.isLoyalUserServer(); }},
    {"High Speed Server", HighSpeedCategory, [](const IPBundle &b, const QSet<int> &) { return b.isFastServer(); }},
    {"Ad Blocking Server", AdBlockerCategory, [](const IPBundle &b, const QSet<int> &) { return b.isAdblocker(); }},
    {"Favorite Server", FavouriteCategory, [](const IPBundle &b, const QSet<int> &f) { return f.contains(b.ip_id()); }},
    {"Gaming Server", GamingCategory, [](const IPBundle &b, const QSet<int> &) { return b.isGaming(); }},
    {"Streaming Server", StreamingCategory, [](const IPBundle &b, const QSet<int> &) { return b.isOnlineStream(); }},
};

QUrl loyaltyPage()
{
    return QUrl(WebAddress::homeOrigin() + QStringLiteral("/loyalty-member/"));
}

// A modal Yes/No question; true when the user answered Yes.
bool ask(QWidget *parent, const QString &title)
{
    auto *box = new DBox(parent);
    box->setSubmitText(QStringLiteral("Yes"));
    box->setCancelText(QStringLiteral("No"));
    box->setTitle(title);
    bool yes = false;
    QObject::connect(box, &DBox::submit, box, [&yes] { yes = true; });
    box->exec();
    box->deleteLater();
    return yes;
}

} // namespace

ServerSelectionPage::ServerSelectionPage(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::ServerSelectionPage>())
{
    m_ui->setupUi(this);
    m_ui->lblSearchIcon->setPixmap(serverListPicture(QStringLiteral(":/assets/search.png"), QSize(16, 16)));
    m_ui->lblEmpty->hide();
    m_ui->btnManu->setAccessibleName(QStringLiteral("Menu"));
    m_ui->editSearch->setAccessibleName(QStringLiteral("Search servers"));
    configureTree();

    m_rebuildTimer.setSingleShot(true);
    m_rebuildTimer.setInterval(rebuildDelayMs);
    connect(&m_rebuildTimer, &QTimer::timeout, this, &ServerSelectionPage::onFilter);
    connect(m_ui->editSearch, &QLineEdit::textChanged, this, &ServerSelectionPage::onFilterChanged);
    connect(m_ui->btnManu, &QPushButton::clicked, this, &ServerSelectionPage::btnManu_clicked);
}

ServerSelectionPage::~ServerSelectionPage() = default;

void ServerSelectionPage::configureTree()
{
    QTreeWidget *tree = m_ui->treeServerList;
    tree->setColumnCount(1);
    tree->setHeaderHidden(true);
    tree->setIndentation(30);
    tree->setRootIsDecorated(false);
    tree->setUniformRowHeights(false);
    tree->setAnimated(false);
    tree->setExpandsOnDoubleClick(false);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setSelectionMode(QAbstractItemView::NoSelection);
    tree->setFocusPolicy(Qt::StrongFocus);
    tree->setAccessibleName(QStringLiteral("Server List"));
    tree->installEventFilter(this);
    tree->setCursor(Qt::PointingHandCursor);
    tree->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tree->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    tree->verticalScrollBar()->setSingleStep(7);
    // Row widgets paint their own white cards; the view stays see-through.
    tree->viewport()->setAutoFillBackground(false);

    connect(tree, &QTreeWidget::pressed, this, &ServerSelectionPage::onExpandItem);
    connect(tree, &QTreeWidget::itemExpanded, this, [this] { createVisibleWidgets(); });
    connect(tree, &QTreeWidget::itemCollapsed, this, [this] { createVisibleWidgets(); });
    connect(tree->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { createVisibleWidgets(); });
    tree->viewport()->installEventFilter(this);
}

QTreeWidget *ServerSelectionPage::tree() const
{
    return m_ui->treeServerList;
}

bool ServerSelectionPage::matchesSearch(const IPBundle &bundle, const QString &text)
{
    return text.isEmpty() || bundle.ipName().contains(text, Qt::CaseInsensitive) ||
           bundle.countryName().contains(text, Qt::CaseInsensitive);
}

bool ServerSelectionPage::passesProtocol(const IPBundle &bundle, int protocol)
{
    switch (protocol) {
    case 0:
        return true;
    case 1:
        return bundle.type() == 1;
    case 2:
        return bundle.type() == 2;
    case 3:
        return bundle.transmission_protocol() == QLatin1String("UDP");
    case 4:
        return bundle.transmission_protocol() == QLatin1String("TCP");
    case 5:
        return bundle.type() == 4;
    case 6:
        return bundle.type() == 5;
    case 7:
        return bundle.type() == 6;
    default:
        return false;
    }
}

IPBundlePtr ServerSelectionPage::bundleOf(const QTreeWidgetItem *item) const
{
    if (!item || item->data(0, KindRole).toInt() != ServerKind)
        return nullptr;
    const int index = item->data(0, BundleIndexRole).toInt();
    return index >= 0 && index < m_rowBundles.size() ? m_rowBundles.at(index) : nullptr;
}

QWidget *ServerSelectionPage::itemWidget(QTreeWidgetItem *item)
{
    QTreeWidget *tree = m_ui->treeServerList;
    if (!item)
        return nullptr;
    if (QWidget *existing = tree->itemWidget(item, 0))
        return existing;
    QWidget *made = makeWidget(item);
    placeWidgets();
    return made;
}

// A position query runs the view's pending layout, which puts new item widgets in place.
void ServerSelectionPage::placeWidgets()
{
    QTreeWidget *tree = m_ui->treeServerList;
    if (tree->topLevelItemCount() > 0)
        tree->visualItemRect(tree->topLevelItem(0));
}

QWidget *ServerSelectionPage::makeWidget(QTreeWidgetItem *item)
{
    QTreeWidget *tree = m_ui->treeServerList;

    QWidget *widget = nullptr;
    if (item->data(0, KindRole).toInt() == ServerKind) {
        const IPBundlePtr bundle = bundleOf(item);
        if (!bundle)
            return nullptr;
        const int place = item->data(0, PlaceRole).toInt();
        auto *row = new TreeChildItem(place & PlaceFirst, place & PlaceLast, bundle, tree, this);
        connect(row, &TreeChildItem::favoriteButtonClick, this, [this, row] { onRowFavoriteClicked(row); });
        widget = row;
    } else {
        auto *header =
            new TreeParentItem(item->data(0, GroupNameRole).toString(), item->data(0, GroupCodeRole).toInt(), tree);
        header->setExpanded(item->isExpanded());
        widget = header;
    }
    tree->setItemWidget(item, 0, widget);
    m_withWidgets.append(item);
    return widget;
}

void ServerSelectionPage::createVisibleWidgets()
{
    QTreeWidget *tree = m_ui->treeServerList;
    QTreeWidgetItem *item = tree->itemAt(QPoint(1, 0));
    if (!item)
        return;

    // Walk first, make afterwards: every new item widget makes the view lay out all its rows
    // again at the next position query, which must not happen once per row.
    const int height = tree->viewport()->height();
    QVector<QTreeWidgetItem *> wanted;
    for (int y = tree->visualItemRect(item).top(); item && y < height + overscanPixels; item = tree->itemBelow(item)) {
        wanted.append(item);
        y += item->sizeHint(0).height();
    }

    if (m_withWidgets.size() > 3 * wanted.size() + 8) {
        QVector<QTreeWidgetItem *> kept;
        for (QTreeWidgetItem *made : qAsConst(m_withWidgets)) {
            const QRect place = tree->visualItemRect(made);
            const bool near = place.isValid() && place.bottom() >= -keepPixels && place.top() <= height + keepPixels;
            auto *row = qobject_cast<TreeChildItem *>(tree->itemWidget(made, 0));
            if (near || (row && row->popup() && row->popup()->isVisible()))
                kept.append(made);
            else
                tree->removeItemWidget(made, 0);
        }
        m_withWidgets = kept;
    }

    bool made = false;
    for (QTreeWidgetItem *shown : qAsConst(wanted)) {
        if (!tree->itemWidget(shown, 0))
            made |= makeWidget(shown) != nullptr;
    }
    if (made)
        placeWidgets();
}

bool ServerSelectionPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->treeServerList->viewport() &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        createVisibleWidgets();
    QTreeWidget *tree = m_ui->treeServerList;
    // Tabbed into: the keyboard starts at the top (a click leaves the view where it is).
    if (watched == tree && event->type() == QEvent::FocusIn && !tree->currentIndex().isValid() &&
        tree->topLevelItemCount() > 0) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            tree->setCurrentItem(tree->topLevelItem(0));
    }
    // From the keyboard: Enter or Space on a group opens or closes it, on a server picks it,
    // as a press of the mouse does.
    if (watched == tree && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) && tree->currentIndex().isValid()) {
            onExpandItem(tree->currentIndex());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ServerSelectionPage::clearTree()
{
    // The items (and with them the row widgets) go away: nothing may point at them.
    m_currentRow = nullptr;
    m_lastExpandedHeader = nullptr;
    m_withWidgets.clear();
    m_ui->treeServerList->clear();
    m_rowBundles.clear();
}

void ServerSelectionPage::onFilterChanged(QString filterText)
{
    m_filterText = filterText;
    m_rebuildTimer.start();
}

void ServerSelectionPage::favoriteButtonChange()
{
    m_rebuildTimer.start();
}

void ServerSelectionPage::onFilter()
{
    m_rebuildTimer.stop();
    m_ui->lblEmpty->hide();
    clearTree();

    const std::shared_ptr<User> user = User::instance();
    const std::shared_ptr<Config> config = Config::instance();
    const QVector<IPBundlePtr> bundles = user->bundles();
    const IPBundlePtr active = user->activeBundle();

    QTreeWidget *tree = m_ui->treeServerList;
    // Groups are collected and handed to the view in one insertion.
    QList<QTreeWidgetItem *> groups;
    auto add = [&](const QString &name, int code, const QVector<IPBundlePtr> &members) {
        if (QTreeWidgetItem *group = makeGroup(name, code, members, active.get()))
            groups.append(group);
    };

    if (m_filterText.isEmpty()) {
        const QVector<int> favouriteList = config->favourites();
        const QSet<int> favourites(favouriteList.cbegin(), favouriteList.cend());
        for (const Category &category : categories) {
            QVector<IPBundlePtr> members;
            for (const IPBundlePtr &bundle : bundles) {
                if (category.isMember(*bundle, favourites))
                    members.append(bundle);
            }
            if (members.isEmpty())
                continue;
            add(QLatin1String(category.name), category.code, members);
            if (category.code == HighSpeedCategory) {
                // The quick "fastest" choice follows the first high-speed server, whatever
                // the list shows. A change is saved at once: the quick buttons reload the
                // settings when they are shown, which may happen before the deferred save
                // below and would put the old choice back.
                const IPBundlePtr &fastest = members.constFirst();
                if (config->fastestServer() != fastest->countryName() ||
                    config->fastestCountryCode() != fastest->countryCode()) {
                    config->setFastestServer(fastest->countryName());
                    config->setFastestCountryCode(fastest->countryCode());
                    config->save();
                }
                emit updateHighspeedButton();
            }
        }
    }

    // Country groups in code-unit order of the name; within a group the later entries of the
    // account list come first.
    QMap<QString, QVector<IPBundlePtr>> countries;
    for (auto it = bundles.crbegin(); it != bundles.crend(); ++it)
        countries[(*it)->countryName()].append(*it);
    for (auto it = countries.cbegin(); it != countries.cend(); ++it)
        add(it.key(), it.value().constFirst()->countryCode(), it.value());
    tree->addTopLevelItems(groups);

    persistSoon();

    if (tree->topLevelItemCount() == 0)
        m_ui->lblEmpty->show();
    createVisibleWidgets();
}

QTreeWidgetItem *ServerSelectionPage::makeGroup(const QString &name, int code, const QVector<IPBundlePtr> &bundles,
                                                const IPBundle *active)
{
    const int protocol = Config::instance()->protocol();
    QVector<IPBundlePtr> shown;
    shown.reserve(bundles.size());
    for (const IPBundlePtr &bundle : bundles) {
        if (!passesProtocol(*bundle, protocol))
            continue;
        if (!matchesSearch(*bundle, m_filterText))
            continue;
        shown.append(bundle);
    }
    if (shown.isEmpty())
        return nullptr;

    auto *header = new QTreeWidgetItem;
    header->setData(0, KindRole, HeaderKind);
    header->setData(0, GroupNameRole, name);
    header->setData(0, Qt::AccessibleTextRole, name);
    header->setData(0, GroupCodeRole, code);
    header->setSizeHint(0, QSize(0, TreeParentItem::rowHeight));

    // First and last are counted among the rows shown: a group cut down by a search or the
    // protocol still gets its rounded ends and the gap below it.
    QList<QTreeWidgetItem *> rows;
    rows.reserve(shown.size());
    for (int i = 0; i < shown.size(); ++i) {
        const IPBundlePtr &bundle = shown.at(i);
        auto *row = new QTreeWidgetItem;
        const bool last = i == shown.size() - 1;
        row->setData(0, KindRole, ServerKind);
        row->setData(0, BundleIndexRole, m_rowBundles.size());
        row->setData(0, PlaceRole, (i == 0 ? PlaceFirst : 0) | (last ? PlaceLast : 0));
        row->setData(0, Qt::AccessibleTextRole, QStringLiteral("%1, %2").arg(bundle->ipName(), bundle->countryName()));
        row->setSizeHint(0, QSize(0, TreeChildItem::rowHeight + (last ? TreeChildItem::groupGap : 0)));
        m_rowBundles.append(bundle);
        if (active && bundle->ip_id() == active->ip_id())
            m_currentRow = row;
        rows.append(row);
    }
    header->addChildren(rows);
    return header;
}

// Each write of the settings store costs a file sync (tens of milliseconds on a busy disk):
// the list is put on screen first, and a burst of keystrokes leads to a single write.
void ServerSelectionPage::persistSoon()
{
    if (m_persistPending)
        return;
    m_persistPending = true;
    QTimer::singleShot(0, this, [this] {
        m_persistPending = false;
        if (Config::loadState() != qMakePair(0, 0))
            Config::saveState(0, 0);
        Config::instance()->save();
    });
}

QTreeWidgetItem *ServerSelectionPage::findHeader(const QString &name, int code) const
{
    QTreeWidget *tree = m_ui->treeServerList;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *header = tree->topLevelItem(i);
        if (header->data(0, GroupCodeRole).toInt() == code && header->data(0, GroupNameRole).toString() == name)
            return header;
    }
    return nullptr;
}

void ServerSelectionPage::setHeaderExpanded(QTreeWidgetItem *header, bool expanded)
{
    if (auto *widget = qobject_cast<TreeParentItem *>(m_ui->treeServerList->itemWidget(header, 0)))
        widget->setExpanded(expanded);
    header->setExpanded(expanded);
}

void ServerSelectionPage::onExpandItem(QModelIndex index)
{
    if (!index.isValid())
        return;
    QTreeWidget *tree = m_ui->treeServerList;
    tree->setCurrentIndex(index);
    QTreeWidgetItem *item = tree->currentItem();
    if (!item)
        return;

    if (index.data(KindRole).toInt() != ServerKind) {
        if (item->isExpanded()) {
            setHeaderExpanded(item, false);
        } else {
            setHeaderExpanded(item, true);
            m_lastExpandedHeader = item;
        }
        return;
    }
    pickServer(item);
}

void ServerSelectionPage::pickServer(QTreeWidgetItem *item)
{
    const IPBundlePtr bundle = bundleOf(item);
    if (!bundle)
        return;

    switch (TreeChildItem::lockFor(*bundle, User::instance()->is_loyal_user())) {
    case TreeChildItem::PremiumLock:
        if (ask(this, QStringLiteral("You are using free version of Tavrix VPN.\nBuy now to unlock all server?")))
            emit paymentPageRequest();
        return;
    case TreeChildItem::LoyaltyLock:
        if (ask(this, QStringLiteral("Unlock exelusive servers with \nyour loyalty membership?")))
            QDesktopServices::openUrl(loyaltyPage());
        return;
    case TreeChildItem::Unlocked:
        break;
    }

    const std::shared_ptr<Config> config = Config::instance();
    config->setActiveServer(bundle->ip_id());
    config->save();
    m_currentRow = item;
    emit connectUiAndConnect();
}

void ServerSelectionPage::onRowFavoriteClicked(TreeChildItem *row)
{
    QTreeWidget *tree = m_ui->treeServerList;
    QTreeWidgetItem *item = tree->itemAt(row->geometry().center());
    QTreeWidgetItem *header = item ? item->parent() : nullptr;
    if (!header) {
        onFilter();
        return;
    }

    // The group the user was working in stays open where it was, also when the favourites
    // group above it appears or disappears.
    const QString name = header->data(0, GroupNameRole).toString();
    const int code = header->data(0, GroupCodeRole).toInt();
    const int headerTop = tree->visualItemRect(header).top();
    setHeaderExpanded(header, true);
    onFilter();

    QTreeWidgetItem *again = findHeader(name, code);
    if (!again)
        return;
    if (!again->isExpanded())
        setHeaderExpanded(again, true);
    tree->setCurrentItem(again);
    QScrollBar *scroll = tree->verticalScrollBar();
    const int contentTop = tree->visualItemRect(again).top() + scroll->value();
    scroll->setValue(contentTop - headerTop);
    createVisibleWidgets();
}

void ServerSelectionPage::btnManu_clicked()
{
    emit menueButtonClick();
}

void ServerSelectionPage::on_btnManu_pressed()
{
    m_ui->editSearch->clear();
    emit menueButtonClick();
}

void ServerSelectionPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, &ServerSelectionPage::onFilter);
}

void ServerSelectionPage::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0xF2, 0xF3, 0xF6));
}

} // namespace Tavrix
