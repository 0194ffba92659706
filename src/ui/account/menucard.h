#pragma once

#include <QFrame>

class QLabel;

namespace Tavrix {

// A picture card of the side menu (account, subscription): a title, a line of text and a
// logo over a background. A mouse press emits clicked() while the card is enabled.
class MenuCard : public QFrame
{
    Q_OBJECT
public:
    explicit MenuCard(QWidget *parent = nullptr);

    void setTitle(const QString &title);
    void setText(const QString &text);
    void setLogo(const QString &path);

    QString title() const;
    QString text() const;
    QString logoPath() const { return m_logoPath; }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    QLabel *m_title;
    QLabel *m_text;
    QLabel *m_logo;
    QString m_logoPath;
};

} // namespace Tavrix
