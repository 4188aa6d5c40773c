#include "ui/ResultView.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <algorithm>
#include <array>

#include "engine/ResultModel.h"
#include "ui/Twips.h"

namespace {

// Widths in twips, by column; the headers are the model's.
constexpr std::array<int, ResultModel::columnCount> columnTwips{
    500, 1700, 3300, 600, 600, 700, 600, 600, 600, 600, 600, 600};

constexpr int addressColumn = 2;
constexpr int hostColumn = 3;
// The longest IPv4 text; only longer (IPv6) addresses widen their column, so
// an IPv4 trace keeps the layout it always had.
constexpr int longestIpv4Text = 15;
// What the Hostname column keeps when it lends width to the addresses.
constexpr int minHostTwips = 900;

} // namespace

ResultView::ResultView(QWidget *parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
}

void ResultView::addColumns()
{
    setColumnCount(ResultModel::columnCount);
    widthsTwips_.assign(ResultModel::columnCount, 0);
    for (int i = 0; i < ResultModel::columnCount; ++i) {
        headerItem()->setText(i, QString::fromLatin1(ResultModel::columnHeaders[i]));
        setColumnWidthTwips(i + 1, columnTwips[i]);
    }
}

int ResultView::columnWidthTwips(int column) const { return widthsTwips_.at(column - 1); }

void ResultView::setColumnWidthTwips(int column, int twips)
{
    widthsTwips_.at(column - 1) = twips;
    if (column == addressColumn || column == hostColumn)
        applyWidths();
    else
        setColumnWidth(column - 1, Twips::toPixels(twips));
}

// The IP address and Hostname columns together keep their laid-out width;
// the addresses take what they need of it.
void ResultView::applyWidths()
{
    const int host = Twips::toPixels(widthsTwips_.at(hostColumn - 1));
    const int lendable = std::max(0, host - Twips::toPixels(minHostTwips));
    const int extra = std::min(addressExtra_, lendable);
    setColumnWidth(addressColumn - 1, Twips::toPixels(widthsTwips_.at(addressColumn - 1)) + extra);
    setColumnWidth(hostColumn - 1, host - extra);
}

// An address longer than any IPv4 text widens its column to the widest such
// address (taking the width from the Hostname column) and shows in full in
// its tooltip; when no row holds one any more the columns go back.
void ResultView::fitAddressColumn(const ResultModel &model)
{
    const QFontMetrics metrics(font());
    // the cell's own margins, as the item delegate draws them
    const int margins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 4;
    int widest = 0;
    for (int row = 1; row <= model.rowCount(); ++row) {
        const QString text = QString::fromStdString(model.cell(row, addressColumn - 1));
        if (text.size() > longestIpv4Text)
            widest = std::max(widest, metrics.horizontalAdvance(text) + margins);
    }
    const int base = Twips::toPixels(widthsTwips_.at(addressColumn - 1));
    const int extra = std::max(0, widest - base);
    if (extra != addressExtra_) {
        addressExtra_ = extra;
        applyWidths();
    }
}

void ResultView::setHeaderText(int column, const QString &text)
{
    headerItem()->setText(column - 1, text);
}

void ResultView::showRows(const ResultModel &model)
{
    const int rows = model.rowCount();
    while (topLevelItemCount() > rows)
        delete takeTopLevelItem(topLevelItemCount() - 1);
    for (int row = 1; row <= rows; ++row) {
        QTreeWidgetItem *item = topLevelItem(row - 1);
        if (!item)
            item = new QTreeWidgetItem(this);
        showRow(*item, model, row);
    }
    fitAddressColumn(model);
}

void ResultView::showRow(QTreeWidgetItem &item, const ResultModel &model, int row)
{
    for (int col = 0; col < ResultModel::columnCount; ++col) {
        const QString text = QString::fromStdString(model.cell(row, col));
        if (item.text(col) != text)
            item.setText(col, text);
    }
    const QString address = item.text(addressColumn - 1);
    const QString tip = address.size() > longestIpv4Text ? address : QString();
    if (item.toolTip(addressColumn - 1) != tip)
        item.setToolTip(addressColumn - 1, tip);
}
