#pragma once

#include <QLabel>

namespace Tavrix {

// A one-line label that keeps its whole text but draws it cut to the width it is given, ending
// in "…", and shows the whole text as a tool tip when cut. Long country and city names must
// not stretch a narrow tile or break off mid-word without a sign.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr);
    explicit ElidedLabel(const QString &text, QWidget *parent = nullptr);

    // The text as drawn at the label's current width; lines joined by "\n".
    QString displayedText() const;

    // Up to two lines, broken between words, before anything is cut.
    void setTwoLines(bool on);
    bool twoLines() const { return m_twoLines; }

    // With the default (ignored) horizontal policy the label asks only for room for "…";
    // any other policy asks for the whole text, for fixed texts that must stay whole.
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QStringList lines() const;

    bool m_twoLines = false;
};

} // namespace Tavrix
