#pragma once

#include <QColor>
#include <QWidget>
#include <vector>

#include "engine/RttStatistics.h"

class QGridLayout;
class QLabel;

// The Hop details' figures (RttStatistics) of a hop and of each address it
// answered from, one row each, in milliseconds with three decimals. Every
// value is a label whose accessible name says what it is, so a screen reader
// reads "Hop 5, Median: 1.234 ms" and not a bare number.
class RttStatisticsGrid : public QWidget {
    Q_OBJECT
public:
    struct Row {
        QString title;  // "Hop 5", or the address and its name
        QString spoken; // how a screen reader names the row
        QColor swatch;  // the address's colour in the time line; invalid: none
        RttStatistics stats;
        bool hop = false; // the whole hop: probes and the share of them answered
    };

    explicit RttStatisticsGrid(QWidget *parent = nullptr);
    void showRows(const std::vector<Row> &rows);
    // The text of a cell, 0-based row (0: the hop) and column (0: the title).
    QString cellText(int row, int column) const;
    int rowCount() const { return static_cast<int>(cells_.size()); }
    // The height that shows the header and rows rows without scrolling.
    int heightFor(int rows) const;
    static int columnCount();

private:
    void addRow();
    void setCell(int row, int column, const QString &text, const QString &spoken);
    static QStringList values(const Row &row);

    QGridLayout *grid_;
    std::vector<std::vector<QLabel *>> cells_;
    std::vector<QLabel *> swatches_;
};
