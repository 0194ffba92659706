#pragma once

#include <QWidget>

class QLabel;

namespace Tavrix {

// Header row of a server group: the group's icon or flag, its name and an arrow that points
// down while the group is open.
class TreeParentItem : public QWidget
{
    Q_OBJECT
public:
    // code: a category code (1000-1006), -1 for the logo, otherwise a country code.
    TreeParentItem(const QString &name, int code, QWidget *parent = nullptr);

    QString name() const { return m_name; }
    int code() const { return m_code; }

    // The arrow's look only; the tree decides what is really open.
    void setExpanded(bool expanded);
    bool isExpanded() const { return m_expanded; }

    static constexpr int rowHeight = 60;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_name;
    int m_code = 0;
    bool m_expanded = false;
    QLabel *m_lblCountryIcon = nullptr;
    QLabel *m_lblCountryName = nullptr;
    QLabel *m_lblArrow = nullptr;
};

} // namespace Tavrix
