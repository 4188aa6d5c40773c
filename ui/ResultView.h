#pragma once

#include <QTreeWidget>
#include <vector>

class ResultModel;

// ListView1: the result table in report style, kept in step with the engine's
// rows. Columns are addressed from 1 as the rest of the program does.
class ResultView : public QTreeWidget {
    Q_OBJECT
public:
    explicit ResultView(QWidget *parent);

    // Load step 1: the twelve columns with their headers and widths.
    void addColumns();
    int columnWidthTwips(int column) const;
    void setColumnWidthTwips(int column, int twips);
    void setHeaderText(int column, const QString &text);
    // Adds, rewrites and removes rows until the table shows the model's rows.
    void showRows(const ResultModel &model);

private:
    void showRow(QTreeWidgetItem &item, const ResultModel &model, int row);
    void fitAddressColumn(const ResultModel &model);
    void applyWidths();
    std::vector<int> widthsTwips_; // as the layout set them
    int addressExtra_ = 0;         // pixels the IP address column borrows from Hostname
};
