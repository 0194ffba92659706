#pragma once

#include <QJsonObject>

#include "ui/card.h"

class QLabel;

namespace Tavrix {

// The wide offer under the grid ("Offer For You"); a press opens its checkout.
class BottomPackage : public Card
{
    Q_OBJECT
public:
    explicit BottomPackage(const QJsonObject &package, QWidget *parent = nullptr);

    QString idText() const { return m_idText; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_idText;
    QLabel *m_badge = nullptr;
};

} // namespace Tavrix
