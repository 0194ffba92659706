#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace Tavrix {

// Header of the sign-in page: a title, two lines of explanation and a link ("Sign In")
// that switches between the page's modes.
class SignUpLabelButton : public QWidget
{
    Q_OBJECT
public:
    explicit SignUpLabelButton(QWidget *parent = nullptr);

    // An empty first line hides both lower lines and the link.
    void setTexts(const QString &title, const QString &lineOne, const QString &lineTwo);

signals:
    void click();

private slots:
    void on_singButton_pressed();

private:
    QLabel *m_title;
    QLabel *m_lineOne;
    QLabel *m_lineTwo;
    QWidget *m_lowerRow;
};

} // namespace Tavrix
