#pragma once

#include <QColor>
#include <QFrame>
#include <QLabel>

namespace Tavrix {

// A rounded panel that paints its own fill and outline. The hub gives every page a
// transparent background through its style sheet, which outranks the application's; these
// colours are properties, so style.qss still sets them by object name (qproperty-fill).
class Card : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(QColor fill READ fill WRITE setFill)
    Q_PROPERTY(QColor outline READ outline WRITE setOutline)
    Q_PROPERTY(int radius READ radius WRITE setRadius)
public:
    explicit Card(QWidget *parent = nullptr);

    QColor fill() const { return m_fill; }
    void setFill(const QColor &colour);
    QColor outline() const { return m_outline; }
    void setOutline(const QColor &colour);
    int radius() const { return m_radius; }
    void setRadius(int radius);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill = Qt::white;
    QColor m_outline = Qt::transparent;
    int m_radius = 12;
};

// A highlight badge: text on a fill rounded on its left corners only.
class Badge : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(QColor fill READ fill WRITE setFill)
public:
    explicit Badge(const QString &text, QWidget *parent = nullptr);

    QColor fill() const { return m_fill; }
    void setFill(const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill = QColor(0xab, 0xab, 0xab);
};

} // namespace Tavrix
