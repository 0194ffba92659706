#include "ui/accessibility.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>
#include <QWidget>

namespace Tavrix {

namespace {

const char *const roleProperty = "tavrixAccessibleRole";
const char *const checkedProperty = "tavrixAccessibleChecked";

// A click as the mouse gives it, on the widget's middle.
void click(QWidget *widget)
{
    const QPointF centre = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(centre.toPoint());
    QMouseEvent down(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &up);
}

class ClickableInterface : public QAccessibleWidget
{
public:
    ClickableInterface(QWidget *widget, QAccessible::Role role)
        : QAccessibleWidget(widget, role)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (role() == QAccessible::CheckBox) {
            state.checkable = true;
            state.checked = widget()->property(checkedProperty).toBool();
        }
        return state;
    }

    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }

    void doAction(const QString &actionName) override
    {
        if (actionName == pressAction())
            click(widget());
        else
            QAccessibleWidget::doAction(actionName);
    }
};

QAccessibleInterface *clickableFactory(const QString &, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    const QVariant role = object->property(roleProperty);
    if (!role.isValid())
        return nullptr;
    return new ClickableInterface(static_cast<QWidget *>(object), QAccessible::Role(role.toInt()));
}

// Space, Enter and Return on a focused clickable are a click.
class KeyClick : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        click(static_cast<QWidget *>(watched));
        return true;
    }
};

KeyClick *keyClick()
{
    static KeyClick *filter = new KeyClick(qApp);
    return filter;
}

// Drawn by the style sheet ("#focusRing"), above the focused widget, never in the mouse's way.
class FocusRing : public QWidget
{
public:
    explicit FocusRing(QWidget *parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("focusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStyleOption option;
        option.initFrom(this);
        QPainter painter(this);
        style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    }
};

// The ring follows the widget that has the focus while it moves or resizes.
class FocusRingKeeper : public QObject
{
public:
    using QObject::QObject;

    void follow(QWidget *widget)
    {
        if (m_target)
            m_target->removeEventFilter(this);
        m_target = widget;
        // Fields draw their own focus; the ring is for everything else, and only for the
        // keyboard (a click shows where the focus went by itself).
        if (!widget || !widget->parentWidget() || qobject_cast<QLineEdit *>(widget) ||
            widget->focusPolicy() == Qt::NoFocus || QGuiApplication::mouseButtons() != Qt::NoButton) {
            if (m_ring)
                m_ring->hide();
            return;
        }
        widget->installEventFilter(this);
        if (!m_ring || m_ring->parentWidget() != widget->parentWidget()) {
            delete m_ring;
            m_ring = new FocusRing(widget->parentWidget());
        }
        place();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_target && (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                                    event->type() == QEvent::Show || event->type() == QEvent::Hide))
            place();
        return false;
    }

private:
    void place()
    {
        if (!m_ring || !m_target)
            return;
        if (!m_target->isVisible()) {
            m_ring->hide();
            return;
        }
        m_ring->setGeometry(m_target->geometry().adjusted(-3, -3, 3, 3));
        m_ring->show();
        m_ring->raise();
    }

    QPointer<QWidget> m_target;
    QPointer<FocusRing> m_ring;
};

} // namespace

namespace Accessibility {

void makeClickable(QWidget *widget, const QString &name, QAccessible::Role role)
{
    static const bool installed = [] {
        QAccessible::installFactory(clickableFactory);
        return true;
    }();
    Q_UNUSED(installed)
    widget->setProperty(roleProperty, int(role));
    widget->setAccessibleName(name);
    widget->setFocusPolicy(Qt::StrongFocus);
    widget->installEventFilter(keyClick());
}

void setChecked(QWidget *widget, bool checked)
{
    if (widget->property(checkedProperty).toBool() == checked && widget->property(checkedProperty).isValid())
        return;
    widget->setProperty(checkedProperty, checked);
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(widget, changed);
    QAccessible::updateAccessibility(&event);
}

void announce(QWidget *widget)
{
    QAccessibleEvent nameChanged(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&nameChanged);
    QAccessibleEvent alert(widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void showKeyboardFocus()
{
    auto *keeper = new FocusRingKeeper(qApp);
    QObject::connect(qApp, &QApplication::focusChanged, keeper,
                     [keeper](QWidget *, QWidget *now) { keeper->follow(now); });
}

} // namespace Accessibility

} // namespace Tavrix
