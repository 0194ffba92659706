#pragma once

#include "ui/placeholderpage.h"

class QGridLayout;
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

private:
    void buildForm();
    void fillTable();
    void fillOffers();

    QTableWidget *m_table = nullptr;
    QGridLayout *m_offers = nullptr;
    QVBoxLayout *m_bottom = nullptr;
};

} // namespace Tavrix
