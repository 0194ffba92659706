#pragma once

#include <QModelIndex>
#include <QString>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <memory>

#include "common/ipbundle.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace Tavrix {

namespace Ui {
class ServerSelectionPage;
}

class TreeChildItem;

// The account's server list: special categories, then one group per country; search,
// protocol filter, favourites, locked rows and the pick that connects.
//
// Rows are many (a few thousand with the categories) and the tree is rebuilt on every
// keystroke, so a row's widget is made only when the row first comes into view; what the
// user sees is the same.
class ServerSelectionPage : public QWidget
{
    Q_OBJECT
public:
    // Item data role 257 of column 0 tells headers from server rows.
    static constexpr int KindRole = Qt::UserRole + 1;
    enum ItemKind { HeaderKind = 0, ServerKind = 1 };

    explicit ServerSelectionPage(QWidget *parent = nullptr);
    ~ServerSelectionPage() override;

    // The protocol filter of the settings (values 0-7); other values let nothing through.
    static bool passesProtocol(const IPBundle &bundle, int protocol);
    // Whether the search text finds the bundle (in its name or country; empty finds all).
    static bool matchesSearch(const IPBundle &bundle, const QString &text);

    QTreeWidget *tree() const;
    QString filterText() const { return m_filterText; }
    // The bundle shown by a server row, null for a header.
    IPBundlePtr bundleOf(const QTreeWidgetItem *item) const;
    // The item's widget (TreeParentItem or TreeChildItem), made now if the item is not in view
    // (widgets far from view are given back when the list scrolls).
    QWidget *itemWidget(QTreeWidgetItem *item);
    // The row of the active server; null when it is not listed.
    QTreeWidgetItem *currentRow() const { return m_currentRow; }
    // The header last opened by a click; null after a rebuild.
    QTreeWidgetItem *lastExpandedHeader() const { return m_lastExpandedHeader; }

signals:
    void connectUiAndConnect();
    void logout();
    void paymentPageRequest();
    void filterChanged();
    void updateHighspeedButton();
    void menueButtonClick();
    void autoConncet();

public slots:
    void onExpandItem(QModelIndex index);
    void onFilterChanged(QString filterText);
    void onFilter();
    void favoriteButtonChange();
    void btnManu_clicked();
    void on_btnManu_pressed();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void configureTree();
    void clearTree();
    // The header with the rows of bundles that pass the filters; null when none passes.
    QTreeWidgetItem *makeGroup(const QString &name, int code, const QVector<IPBundlePtr> &bundles,
                               const IPBundle *active);
    void setHeaderExpanded(QTreeWidgetItem *header, bool expanded);
    void createVisibleWidgets();
    QWidget *makeWidget(QTreeWidgetItem *item);
    void placeWidgets();
    // Stores the page's position in the hub and the settings after a rebuild.
    void persistSoon();
    void pickServer(QTreeWidgetItem *item);
    void onRowFavoriteClicked(TreeChildItem *row);
    QTreeWidgetItem *findHeader(const QString &name, int code) const;

    std::unique_ptr<Ui::ServerSelectionPage> m_ui;
    QString m_filterText;
    QTimer m_rebuildTimer;
    QTreeWidgetItem *m_currentRow = nullptr;
    QTreeWidgetItem *m_lastExpandedHeader = nullptr;
    // The bundles of the rows; a row holds its index in item data.
    QVector<IPBundlePtr> m_rowBundles;
    // Items that have their widget now.
    QVector<QTreeWidgetItem *> m_withWidgets;
    bool m_persistPending = false;
};

} // namespace Tavrix
