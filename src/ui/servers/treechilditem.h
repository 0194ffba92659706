#pragma once

#include <QPointer>
#include <QWidget>

#include "common/ipbundle.h"
#include "ui/servers/dialog.h"

class QLabel;
class QPushButton;

namespace Tavrix {

// One server row of the list: location pin, city, a lock when the account may not use the
// server, and the favourite star.
class TreeChildItem : public QWidget
{
    Q_OBJECT
public:
    // Why a row is locked; decided when the row is built.
    enum Lock {
        Unlocked,
        PremiumLock, // a premium server sent to a free account with a stand-in address
        LoyaltyLock, // a loyalty server and the account is not a loyalty member
    };
    static Lock lockFor(const IPBundle &bundle, int isLoyalUser);

    // isFirst / isLast: the row's place in its group, which rounds the group's corners.
    // page: the parent of the favourite message box.
    TreeChildItem(bool isFirst, bool isLast, const IPBundlePtr &bundle, QWidget *parent, QWidget *page);
    ~TreeChildItem() override;

    IPBundlePtr bundle() const { return m_bundle; }
    Lock lock() const { return m_lock; }
    // The favourite message box, once the star has been pressed.
    Dialog *popup() const { return m_popup; }

    static constexpr int rowHeight = 44;
    // Extra room under the last row of a group.
    static constexpr int groupGap = 8;

signals:
    void favoriteButtonClick();

public slots:
    void on_btnFavorite_clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void showStar(bool favourite);

    IPBundlePtr m_bundle;
    QWidget *m_page = nullptr;
    bool m_isFirst = false;
    bool m_isLast = false;
    bool m_hovered = false;
    Lock m_lock = Unlocked;
    QLabel *m_lblLocation = nullptr;
    QLabel *m_lblCity = nullptr;
    QLabel *m_lblLock = nullptr;
    QPushButton *m_btnFavorite = nullptr;
    QPointer<Dialog> m_popup;
};

} // namespace Tavrix
