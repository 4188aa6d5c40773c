#include "ui/ToggleAccessible.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QTimer>

#include "ui/FocusLeaveGuard.h"

namespace {

QAccessibleInterface *toggleFor(const QString &className, QObject *object)
{
    if (className == QLatin1String("QCheckBox"))
        return new ToggleAccessible(static_cast<QCheckBox *>(object), QAccessible::CheckBox);
    if (className == QLatin1String("QRadioButton"))
        return new ToggleAccessible(static_cast<QRadioButton *>(object), QAccessible::RadioButton);
    return nullptr;
}

// A caption's "&x" marks a mnemonic and "&&" is a plain "&".
QString withoutMnemonic(QString caption)
{
    for (qsizetype i = caption.indexOf(QLatin1Char('&')); i >= 0;
         i = caption.indexOf(QLatin1Char('&'), i + 1))
        caption.remove(i, 1);
    return caption;
}

} // namespace

ToggleAccessible::ToggleAccessible(QAbstractButton *button, QAccessible::Role role)
    : QAccessibleWidget(button, role)
{
    addControllingSignal(QStringLiteral("toggled(bool)"));
}

// Qt keeps the first interface it makes for an object, and may make it while
// the control is constructed: the factory must be in place before that.
void ToggleAccessible::install()
{
    static const bool installed = (QAccessible::installFactory(toggleFor), true);
    Q_UNUSED(installed);
}

QAbstractButton *ToggleAccessible::button() const
{
    return static_cast<QAbstractButton *>(widget());
}

QString ToggleAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
        return withoutMnemonic(button()->text());
    return QAccessibleWidget::text(t);
}

QAccessible::State ToggleAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.checkable = true;
    s.checked = button()->isChecked();
    if (const auto *box = qobject_cast<const QCheckBox *>(button()))
        s.checkStateMixed = box->checkState() == Qt::PartiallyChecked;
    s.pressed = button()->isDown();
    return s;
}

QStringList ToggleAccessible::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (widget()->isEnabled())
        names.prepend(toggleAction());
    return names;
}

void ToggleAccessible::doAction(const QString &actionName)
{
    if (actionName != toggleAction()) {
        QAccessibleWidget::doAction(actionName);
        return;
    }
    if (!widget()->isEnabled())
        return;
    // After the call has returned, as Press clicks after it: a failing check
    // shows a modal box, and the screen reader waits for the call's reply.
    QAbstractButton *target = button();
    QTimer::singleShot(0, target, [target] {
        FocusLeaveGuard *guard = FocusLeaveGuard::of(*target->window());
        if (!guard || guard->focusMayLeave())
            target->toggle();
    });
}
