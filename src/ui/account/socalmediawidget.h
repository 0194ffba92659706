#pragma once

#include <QPushButton>
#include <QWidget>

namespace Tavrix {

// One entry of the "Share Via" popup: a picture over its title.
class SocialPlatformWidget : public QPushButton
{
    Q_OBJECT
public:
    SocialPlatformWidget(const QString &title, const QString &icon, QWidget *parent = nullptr);

    QString title() const { return m_title; }

signals:
    void chosen(const QString &title);

private:
    QString m_title;
};

// The referral page's "Share Via" popup: six share targets in a grid. Choosing one opens its
// address with the referral code of the signed-in user and closes the popup.
class SocalMediaWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SocalMediaWidget(QWidget *parent = nullptr);

    // Opens the share address of the entry `title`.
    static void share(const QString &title);
};

} // namespace Tavrix
