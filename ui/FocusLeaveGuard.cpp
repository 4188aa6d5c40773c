#include "ui/FocusLeaveGuard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace {

QWidget *finalProxy(QWidget *w)
{
    while (w->focusProxy())
        w = w->focusProxy();
    return w;
}

bool takesClickFocus(QWidget *w)
{
    return (w->focusPolicy() & Qt::ClickFocus) && (finalProxy(w)->focusPolicy() & Qt::ClickFocus);
}

} // namespace

FocusLeaveGuard::FocusLeaveGuard(QWidget &window, QList<QWidget *> fields, Check check)
    : QObject(&window), window_(window), fields_(std::move(fields)), check_(std::move(check))
{
    // Qt moves the focus to a clicked widget before that widget's own filters
    // see the press; only the window's QWindow sees it in time. The same
    // filter sees the fields' key presses: one more on each field would run
    // the check twice per Tab.
    qApp->installEventFilter(this);
}

void FocusLeaveGuard::guardClick(QAbstractButton &button, std::function<void()> action)
{
    connect(&button, &QAbstractButton::clicked, this, [this, action = std::move(action)] {
        if (focusMayLeave())
            action();
    });
}

bool FocusLeaveGuard::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) &&
        watched == window_.windowHandle())
        return !mousePressAllowed(*event);
    if (type == QEvent::KeyPress && fields_.contains(watched))
        return !tabAllowed(*static_cast<QWidget *>(watched), *event);
    return false;
}

bool FocusLeaveGuard::mousePressAllowed(QEvent &event)
{
    QWidget *field = guardedFocus();
    if (!field)
        return true;
    const QPoint pos = static_cast<QMouseEvent &>(event).position().toPoint();
    QWidget *target = focusTargetAt(pos);
    if (!target || finalProxy(target) == field)
        return true;
    return check_(*field);
}

// Tab and Backtab move the focus unless Ctrl or Alt is held (QWidget::event).
bool FocusLeaveGuard::tabAllowed(QWidget &field, QEvent &event)
{
    const auto &key = static_cast<QKeyEvent &>(event);
    if (key.key() != Qt::Key_Tab && key.key() != Qt::Key_Backtab)
        return true;
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier))
        return true;
    return check_(field);
}

bool FocusLeaveGuard::focusMayLeave()
{
    QWidget *field = guardedFocus();
    return !field || check_(*field);
}

FocusLeaveGuard *FocusLeaveGuard::of(const QWidget &window)
{
    return window.findChild<FocusLeaveGuard *>(QString(), Qt::FindDirectChildrenOnly);
}

QWidget *FocusLeaveGuard::guardedFocus() const
{
    QWidget *focus = window_.focusWidget();
    return fields_.contains(focus) ? focus : nullptr;
}

// The widget a click at pos gives the focus to, found as Qt finds it: the
// innermost enabled widget that takes focus by click, stopping at a widget that
// already has the focus or at the window.
QWidget *FocusLeaveGuard::focusTargetAt(QPoint pos) const
{
    QWidget *w = window_.childAt(pos);
    while (w && w != &window_) {
        if (w->isEnabled() && takesClickFocus(w))
            return w;
        if (finalProxy(w)->hasFocus())
            return nullptr;
        w = w->parentWidget();
    }
    return nullptr;
}
