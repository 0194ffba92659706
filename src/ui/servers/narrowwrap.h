#pragma once

#include <QList>
#include <QObject>

class QLabel;
class QWidget;

namespace Tavrix {

// Lets the labels of a card wrap while the card is narrower than they need on one line, and
// puts them back on one line when the card is hidden. Labels that always wrapped would lower
// the card's minimum width and, with it, the share of the window its panel is given.
class NarrowWrap : public QObject
{
public:
    NarrowWrap(QWidget *card, const QList<QLabel *> &labels);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setWrapped(bool wrapped);

    QWidget *m_card;
    QList<QLabel *> m_labels;
    bool m_wrapped = false;
};

} // namespace Tavrix
