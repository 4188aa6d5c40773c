#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The result table and the Notes text as plain data. Rows are addressed from 1
// (row n is hop n); column 0 is the Hop text, columns 1..11 the sub-items
// IP address, Hostname, Sent, Recv, Loss %, Best, Avg, Worst, Last, MTU, Asym/TTL.
// Every change bumps revision(), so a view can refresh only when something changed.
class ResultModel {
public:
    static constexpr int columnCount = 12;
    using Row = std::array<std::string, columnCount>;
    // The table's column headers; the last one reads "TTL" in the TTL view.
    static constexpr std::array<const char *, columnCount> columnHeaders{
        "Hop", "IP address", "Hostname", "Sent", "Recv", "Loss %",
        "Best", "Avg", "Worst", "Last", "MTU", "Asym"};

    int rowCount() const { return static_cast<int>(rows_.size()); }
    // Adds a row at the end with its Hop text; the sub-items start empty.
    void addRow(std::string hopText);
    const std::string &cell(int row, int column) const;
    // A cell is only written, and the revision only bumped, when its text
    // changes: a fast trace rewrites every cell of a row at each reply, and
    // most of them read as they did.
    void setCell(int row, int column, std::string_view text);
    // The cell as the decimal text of value. A cell that already shows that
    // number is left as it is without writing the text again: most of a
    // reply's numbers (Best, Worst, Avg, Loss) rarely change.
    void setNumber(int row, int column, int32_t value);
    const Row &row(int row) const;
    void removeAllRows();

    const std::string &notes() const;
    void setNotes(std::string text);
    // Notes that are written out only when read: a hop that answers from
    // several addresses changes them at every reply, and a fast trace gives
    // tens of thousands of replies a second, while the window reads them about
    // twenty times a second. notesChanged() says they must be written anew.
    void setNotesWriter(std::function<std::string()> writer) { notesWriter_ = std::move(writer); }
    void notesChanged();

    uint64_t revision() const { return revision_; }

private:
    std::vector<Row> rows_;
    // By row: the number setNumber last wrote to each cell, or noNumber once
    // any other text went there.
    static constexpr int64_t noNumber = INT64_MIN;
    std::vector<std::array<int64_t, columnCount>> numbers_;
    mutable std::string notes_;
    mutable bool notesStale_ = false;
    std::function<std::string()> notesWriter_;
    uint64_t revision_ = 0;
};
