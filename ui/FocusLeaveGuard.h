#pragma once

#include <QList>
#include <QObject>
#include <functional>

class QAbstractButton;
class QWidget;

// Runs a check when the focus is about to leave one of the guarded fields for
// another control of the same window, by mouse or by Tab, and before a guarded
// button's action however the button is pressed; a failing check keeps the
// focus in the field and the other control's action (a button's click, a check
// box's toggle) does not happen. Code that sets texts, typing and the close box
// never run it.
class FocusLeaveGuard : public QObject {
    Q_OBJECT
public:
    // The check returns true when the field may be left.
    using Check = std::function<bool(QWidget &field)>;

    FocusLeaveGuard(QWidget &window, QList<QWidget *> fields, Check check);

    // Runs action on the button's click once the field with the focus may be
    // left. A click from code or a screen reader's "Press" action moves no
    // focus, so only here does the check see those.
    void guardClick(QAbstractButton &button, std::function<void()> action);
    // Runs the check of the guarded field that has the focus, if one has it:
    // true when it may be left. For actions that move no focus.
    bool focusMayLeave();
    // The guard of window's fields, or null.
    static FocusLeaveGuard *of(const QWidget &window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool mousePressAllowed(QEvent &event);
    bool tabAllowed(QWidget &field, QEvent &event);
    QWidget *guardedFocus() const;
    QWidget *focusTargetAt(QPoint pos) const;

    QWidget &window_;
    QList<QWidget *> fields_;
    Check check_;
};
