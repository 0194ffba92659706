#pragma once

#include <QWidget>

class QPushButton;
class QVBoxLayout;

namespace Tavrix {

// Common frame of the hub's simpler pages: a header with "Back" and a title over an empty
// body. A page that the hub restores after sign-in passes its side-panel index, which it
// records as the remembered panels every time it is shown.
class PlaceholderPage : public QWidget
{
    Q_OBJECT
public:
    PlaceholderPage(const QString &title, int rememberedSide, QWidget *parent = nullptr);

protected:
    QPushButton *backButton() const { return m_back; }
    QVBoxLayout *body() const { return m_body; }
    void showEvent(QShowEvent *event) override;

private:
    QPushButton *m_back;
    QVBoxLayout *m_body;
    int m_rememberedSide;
};

} // namespace Tavrix
