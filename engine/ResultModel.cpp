#include "engine/ResultModel.h"

#include <cassert>
#include <charconv>

void ResultModel::addRow(std::string hopText)
{
    rows_.emplace_back();
    rows_.back()[0] = std::move(hopText);
    numbers_.emplace_back().fill(noNumber);
    ++revision_;
}

const std::string &ResultModel::cell(int row, int column) const
{
    return this->row(row)[static_cast<size_t>(column)];
}

void ResultModel::setCell(int row, int column, std::string_view text)
{
    assert(row >= 1 && row <= rowCount() && column >= 0 && column < columnCount);
    const auto r = static_cast<size_t>(row - 1);
    const auto c = static_cast<size_t>(column);
    numbers_[r][c] = noNumber;
    if (rows_[r][c] != text) {
        rows_[r][c].assign(text);
        ++revision_;
    }
}

void ResultModel::setNumber(int row, int column, int32_t value)
{
    assert(row >= 1 && row <= rowCount() && column >= 0 && column < columnCount);
    int64_t &shown = numbers_[static_cast<size_t>(row - 1)][static_cast<size_t>(column)];
    if (shown == value)
        return;
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    setCell(row, column, std::string_view(digits, static_cast<size_t>(end - digits)));
    shown = value; // after setCell, which forgets the number
}

const ResultModel::Row &ResultModel::row(int row) const
{
    assert(row >= 1 && row <= rowCount());
    return rows_[static_cast<size_t>(row - 1)];
}

void ResultModel::removeAllRows()
{
    rows_.clear();
    numbers_.clear();
    ++revision_;
}

const std::string &ResultModel::notes() const
{
    if (notesStale_) {
        notes_ = notesWriter_();
        notesStale_ = false;
    }
    return notes_;
}

void ResultModel::notesChanged()
{
    assert(notesWriter_);
    notesStale_ = true;
    ++revision_;
}

void ResultModel::setNotes(std::string text)
{
    notesStale_ = false;
    if (notes_ != text) {
        notes_ = std::move(text);
        ++revision_;
    }
}
