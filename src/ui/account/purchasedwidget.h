#pragma once

#include "ui/card.h"

class QLabel;

namespace Tavrix {

// One purchase of the history: plan, date and transaction id with a copy button.
class PurchasedWidget : public Card
{
    Q_OBJECT
public:
    PurchasedWidget(const QString &planName, const QString &date, const QString &transactionId,
                    QWidget *parent = nullptr);

public slots:
    void on_btnCopy_pressed();

private:
    QLabel *m_lblTnxID = nullptr;
};

} // namespace Tavrix
