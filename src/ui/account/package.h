#pragma once

#include <QJsonObject>

#include "ui/card.h"

class QLabel;

namespace Tavrix {

// One offer of the purchase page's grid: name, price, subtitle and a highlight badge that
// turns red under the pointer ("1 Year" starts red). A press opens the shop's checkout for it.
class Package : public Card
{
    Q_OBJECT
public:
    explicit Package(const QJsonObject &package, QWidget *parent = nullptr);

    QString idText() const { return m_idText; }
    bool badgeRed() const;

    // Opens the checkout of package `idText` with a fresh sign-in token.
    static bool openCheckout(const QString &idText);
    // Gives the badge its red or grey look.
    static void setBadgeRed(QLabel *badge, bool red);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_idText;
    QLabel *m_badge = nullptr;
};

} // namespace Tavrix
