#pragma once

#include <QAccessibleWidget>

class QAbstractButton;

// What a screen reader sees of a check box or an option button: Qt's own
// face of them (role, name, checked state, the Toggle action), except that
// Toggle first runs the focus-leave check of the window's guarded field, as a
// mouse press on the control does, and toggles only when it passes. The action
// moves no focus, so without this it toggled the control past a field that
// fails its check. The toggle comes once the action's call has returned.
class ToggleAccessible : public QAccessibleWidget {
public:
    ToggleAccessible(QAbstractButton *button, QAccessible::Role role);

    // Makes every check box and option button created from now on use it.
    static void install();

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;

private:
    QAbstractButton *button() const;
};
