#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>
#include <vector>

// The colour of each address a hop answered from, one choice for the time
// line, its legend and the statistics: the n-th address the log holds, in the
// order the hop first answered from them, takes the n-th colour of a palette
// for the plot's background; replies from addresses the full log could not
// hold are grey.
class AddressColours {
public:
    AddressColours() = default;
    // entries: address-log entries in the order first answered from, 0 for
    // replies the full log could not hold.
    AddressColours(const std::vector<int32_t> &entries, const QPalette &palette);

    // The colour of an entry given to the constructor; the text colour otherwise.
    QColor of(int32_t entry) const;
    // In the order of the entries given.
    const std::vector<QColor> &inOrder() const { return colours_; }

    // Whether the plot's background is darker than its text.
    static bool dark(const QPalette &palette);

private:
    std::vector<int32_t> entries_;
    std::vector<QColor> colours_;
    QColor text_;
};
