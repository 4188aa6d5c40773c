#include "ui/HostHistory.h"

#include <QComboBox>
#include <QLineEdit>

const QString HostHistory::clearItem = QStringLiteral("Clear History");

namespace {

// Alphabetical without regard to case; texts that differ only in case keep a
// fixed order among themselves.
bool sortsBefore(const QString &a, const QString &b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

} // namespace

HostHistory::HostHistory(QComboBox &combo) : combo_(combo)
{
    combo_.setEditable(true);
    combo_.setInsertPolicy(QComboBox::NoInsert);
    combo_.setCompleter(nullptr);
    // The combo would otherwise choose the item whose text was typed as soon as
    // the entry loses focus: typing "Clear History" and Tab would clear the list.
    QObject::disconnect(combo_.lineEdit(), SIGNAL(editingFinished()), &combo_, nullptr);
}

void HostHistory::load() { addClearItemAlone(); }

void HostHistory::record()
{
    const QString entry = combo_.currentText();
    for (int i = 0; i < combo_.count(); ++i) {
        if (combo_.itemText(i) == entry)
            return;
    }
    combo_.insertItem(sortedPosition(entry), entry);
    if (combo_.currentText() != entry)
        combo_.setEditText(entry);
}

void HostHistory::clickCheck(int index)
{
    if (index != combo_.count() - 1)
        return;
    combo_.clear();
    addClearItemAlone();
}

// Position among the targets, that is before the "Clear History" item.
int HostHistory::sortedPosition(const QString &text) const
{
    int pos = 0;
    while (pos < combo_.count() - 1 && sortsBefore(combo_.itemText(pos), text))
        ++pos;
    return pos;
}

void HostHistory::addClearItemAlone()
{
    combo_.addItem(clearItem);
    // The first item of an empty combo becomes current and fills the entry.
    combo_.setCurrentIndex(-1);
}
