#pragma once

#include <QIcon>
#include <QWidget>

class QLabel;

namespace Tavrix {

// One application of the split-tunnel lists: icon, name, path and the add/remove mark. It is
// chosen by the name of its program file (processName()), which the control program matches.
class SplitTunnelWidget : public QWidget
{
    Q_OBJECT
public:
    SplitTunnelWidget(const QIcon &icon, const QString &path, const QString &title, bool selected,
                      QWidget *parent = nullptr);

    QString processName() const { return m_processName; }
    QString path() const { return m_path; }
    bool isSelected() const { return m_selected; }

signals:
    void clicked(const QString &processName, bool isAllowed);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void refreshLook();

    QString m_processName;
    QString m_path;
    bool m_selected;
    QLabel *m_name;
    QLabel *m_pathLabel;
    QLabel *m_action;
};

} // namespace Tavrix
