#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;

namespace Tavrix {

// A short message ("copied", "added to favorites"): a frameless, always-on-top 300 x 80 box
// with the logo and a text, that closes itself 5 seconds after it was shown. Callers show it
// modally with exec(); a click on the box or Escape closes it earlier.
class Dialog : public QDialog
{
    Q_OBJECT
public:
    explicit Dialog(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const;

    // How long the box stays up.
    static constexpr int lifetimeMs = 5000;

protected:
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void placeOverParent();

    QLabel *m_icon = nullptr;
    QLabel *m_text = nullptr;
    QTimer m_closeTimer;
    bool m_translucent = false;
};

} // namespace Tavrix
