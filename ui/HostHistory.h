#pragma once

#include <QString>

class QComboBox;

// The host entry's history: the targets traced so far in alphabetical order,
// with the command item "Clear History" always last.
class HostHistory {
public:
    static const QString clearItem;

    // Makes the combo an editable entry that never adds or completes by itself.
    explicit HostHistory(QComboBox &combo);

    // Load: the list holds "Clear History" alone and the entry is empty.
    void load();
    // Adds the entry text at its alphabetical place unless it is already an
    // item ("Clear History" included); the entry keeps its text.
    void record();
    // After the user chose the item at index: choosing "Clear History" empties
    // the list and the entry.
    void clickCheck(int index);

private:
    int sortedPosition(const QString &text) const;
    void addClearItemAlone();

    QComboBox &combo_;
};
