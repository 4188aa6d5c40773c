#include "ui/ResultView.h"

#include <QHeaderView>
#include <array>

#include "engine/ResultModel.h"
#include "ui/Twips.h"

namespace {

struct Column {
    const char *header;
    int width; // twips
};

constexpr std::array<Column, ResultModel::columnCount> columns{{
    {"Hop", 500},
    {"IP address", 1700},
    {"Hostname", 3300},
    {"Sent", 600},
    {"Recv", 600},
    {"Loss %", 700},
    {"Best", 600},
    {"Avg", 600},
    {"Worst", 600},
    {"Last", 600},
    {"MTU", 600},
    {"Asym", 600},
}};

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
        headerItem()->setText(i, QString::fromLatin1(columns[i].header));
        setColumnWidthTwips(i + 1, columns[i].width);
    }
}

int ResultView::columnWidthTwips(int column) const { return widthsTwips_.at(column - 1); }

void ResultView::setColumnWidthTwips(int column, int twips)
{
    widthsTwips_.at(column - 1) = twips;
    setColumnWidth(column - 1, Twips::toPixels(twips));
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
}

void ResultView::showRow(QTreeWidgetItem &item, const ResultModel &model, int row)
{
    for (int col = 0; col < ResultModel::columnCount; ++col) {
        const QString text = QString::fromStdString(model.cell(row, col));
        if (item.text(col) != text)
            item.setText(col, text);
    }
}
