#include "ui/RttStatisticsGrid.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <array>

#include "engine/PercentText.h"

namespace {

struct Column {
    const char *header;
    const char *spoken;
    const char *tip;
};

constexpr std::array<Column, 11> columns{{
    {"", "", nullptr},
    {"Probes", "Probes", "Main probes sent to the hop"},
    {"Replies", "Replies", nullptr},
    {"Share", "Share",
     "For the hop: the share of its probes answered; for an address: its share of the hop's "
     "replies"},
    {"Best", "Best", nullptr},
    {"Median", "Median", nullptr},
    {"Avg", "Average",
     "Mean of the round-trip times: with the kernel stamps' microseconds where they came, "
     "whole milliseconds where not"},
    {"95th pct", "95th percentile", nullptr},
    {"Worst", "Worst", nullptr},
    {"StDev", "Standard deviation", "Sample standard deviation"},
    {"Jitter", "Jitter",
     "Mean absolute difference of consecutive replies' round-trip times, in the order sent "
     "(losses skipped); other tools define jitter otherwise"},
}};

constexpr int firstTimeColumn = 4;
const QString none = QStringLiteral("\u2014");

QString ms(double v) { return QString::number(v, 'f', 3); }

} // namespace

RttStatisticsGrid::RttStatisticsGrid(QWidget *parent) : QWidget(parent), grid_(new QGridLayout(this))
{
    setObjectName(QStringLiteral("Statistics"));
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setHorizontalSpacing(12);
    for (int c = 0; c < columnCount(); ++c) {
        auto *header = new QLabel(QString::fromLatin1(columns[c].header), this);
        QFont bold = header->font();
        bold.setBold(true);
        header->setFont(bold);
        header->setToolTip(columns[c].tip ? QString::fromLatin1(columns[c].tip) : QString());
        grid_->addWidget(header, 0, c + 1, c ? Qt::AlignRight : Qt::AlignLeft);
    }
    grid_->setColumnStretch(1, 1);
}

int RttStatisticsGrid::columnCount() { return static_cast<int>(columns.size()); }

QStringList RttStatisticsGrid::values(const Row &row)
{
    const RttStatistics &s = row.stats;
    QStringList v{row.title,
                  row.hop ? QString::number(s.probes) : QString(),
                  QString::number(s.replies),
                  QString::fromStdString(percentText(s.share, 1)) + QStringLiteral(" %")};
    if (s.replies == 0) {
        while (v.size() < columnCount())
            v << none;
        return v;
    }
    const bool spread = s.replies > 1; // one reply has no spread and no jitter
    v << ms(s.best) << ms(s.median) << ms(s.avg) << ms(s.p95) << ms(s.worst)
      << (spread ? ms(s.stdev) : none) << (spread ? ms(s.jitter) : none);
    return v;
}

void RttStatisticsGrid::addRow()
{
    const int r = rowCount() + 1;
    auto *swatch = new QLabel(this);
    grid_->addWidget(swatch, r, 0);
    swatch->show();
    swatches_.push_back(swatch);
    std::vector<QLabel *> row;
    for (int c = 0; c < columnCount(); ++c) {
        auto *cell = new QLabel(this);
        cell->setObjectName(QStringLiteral("cell%1_%2").arg(r - 1).arg(c));
        cell->setTextFormat(Qt::PlainText); // names come from the network
        grid_->addWidget(cell, r, c + 1, c ? Qt::AlignRight : Qt::AlignLeft);
        cell->show(); // now, not at the next turn of the event loop: the size hint counts it
        row.push_back(cell);
    }
    cells_.push_back(std::move(row));
}

void RttStatisticsGrid::showRows(const std::vector<Row> &rows)
{
    while (rowCount() < static_cast<int>(rows.size()))
        addRow();
    while (rowCount() > static_cast<int>(rows.size())) {
        for (QLabel *cell : cells_.back())
            delete cell;
        delete swatches_.back();
        cells_.pop_back();
        swatches_.pop_back();
    }
    const int side = fontMetrics().height() * 2 / 3;
    for (size_t r = 0; r < rows.size(); ++r) {
        const QStringList v = values(rows[r]);
        for (int c = 0; c < columnCount(); ++c) {
            const QString unit = c >= firstTimeColumn && v[c] != none ? QStringLiteral(" ms") : QString();
            const QString spoken = c == 0 ? rows[r].spoken
                                          : QStringLiteral("%1, %2: %3%4").arg(rows[r].spoken,
                                                QString::fromLatin1(columns[c].spoken), v[c], unit);
            setCell(static_cast<int>(r), c, v[c], spoken);
        }
        QPixmap square(QSize(side, side) * devicePixelRatio()); // sharp on a high-DPI screen
        square.setDevicePixelRatio(devicePixelRatio());
        square.fill(rows[r].swatch.isValid() ? rows[r].swatch : Qt::transparent);
        swatches_[r]->setPixmap(square);
    }
}

void RttStatisticsGrid::setCell(int row, int column, const QString &text, const QString &spoken)
{
    QLabel *cell = cells_[static_cast<size_t>(row)][static_cast<size_t>(column)];
    if (cell->text() != text)
        cell->setText(text);
    if (cell->accessibleName() != spoken)
        cell->setAccessibleName(spoken);
}

int RttStatisticsGrid::heightFor(int rows) const
{
    const int all = sizeHint().height(); // the header and every row
    return all * (rows + 1) / (rowCount() + 1);
}

QString RttStatisticsGrid::cellText(int row, int column) const
{
    return cells_.at(static_cast<size_t>(row)).at(static_cast<size_t>(column))->text();
}
