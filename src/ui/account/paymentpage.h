#pragma once

#include "ui/placeholderpage.h"

class QGridLayout;
class QLabel;
class QScrollArea;
class QTableWidget;
class QVBoxLayout;

namespace Tavrix {

// Plans of the web shop: the free-versus-premium table from the configuration, the account's
// offers in rows of two, the wide offer and the features box. Rebuilt on every show.
class PaymentPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit PaymentPage(QWidget *parent = nullptr);

signals:
    void clickBack();

public slots:
    void on_btnBack_pressed();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildForm();
    void fillTable();
    void fillOffers();
    // Column widths from the texts, then row heights and the table's height to match.
    void fitTableColumns();
    QVector<int> columnNeeds() const;
    // Smaller type in the table (the style sheet's "compact" look).
    void setTableCompact(bool compact);
    // Rows of two where two cards fit side by side, one column and a wrapped title in a
    // narrow panel; `fit` false restores the wide layout, which the hub's division of the
    // window is measured on while the page is hidden.
    void placeOffers(bool fit = true);

    QTableWidget *m_table = nullptr;
    QGridLayout *m_offers = nullptr;
    QScrollArea *m_scroll = nullptr;
    QLabel *m_caption = nullptr;
    QList<QWidget *> m_offerCards; // in the order of the rows of two
    bool m_oneColumn = false;
    bool m_filled = false; // the layout follows the width only once the page is filled
    int m_normalNeed = -1; // the table's least width at the usual type size; -1: not measured
    QVBoxLayout *m_bottom = nullptr;
};

} // namespace Tavrix
