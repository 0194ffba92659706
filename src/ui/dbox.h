#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;

namespace Tavrix {

// The modal confirmation and answer dialog used by every page. Title, text and the two
// buttons start hidden; each setter shows its element. The dialog ends only through its
// buttons: Return, Enter and Escape are swallowed.
class DBox : public QDialog
{
    Q_OBJECT
public:
    explicit DBox(QWidget *parent = nullptr);

    void setTitle(const QString &title);
    void setText(const QString &text);
    void setSubmitText(const QString &text);
    void setCancelText(const QString &text);

    // The window dialogs without a parent of their own are centred on (start-up registers
    // the main window).
    static void setParentWindow(QWidget *window);
    static QWidget *parentWindow();

    // False without a compositing desktop: an opaque card without the shadow margin.
    bool isTranslucent() const { return m_translucent; }

signals:
    void submit();
    void cancel();

public slots:
    void on_btnSubmit_pressed();
    void on_btnCancel_pressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *m_title = nullptr;
    QLabel *m_text = nullptr;
    QPushButton *m_submit = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_translucent = false;
    static QPointer<QWidget> s_parentWindow;
};

} // namespace Tavrix
