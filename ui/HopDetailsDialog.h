#pragma once

#include <functional>

#include <QDialog>
#include <cstdint>
#include <vector>

#include "engine/LossBreakdown.h"
#include "engine/RttStatistics.h"

class HopDetails;
class RttStatisticsGrid;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class SteadyText;
class TimeLineChart;
class TraceEngine;

// Hop details: what happened at one hop, probe by probe, over the current
// trace: the time line, the figures per address, the loss explained, the last
// MTU search and what the Asym/TTL figure rests on, and Copy of the probes.
// It only reads the engine, between probes; the main window tells it which
// hop to show and when to read again (at the table's refresh pace).
class HopDetailsDialog : public QDialog {
    Q_OBJECT
public:
    HopDetailsDialog(const TraceEngine &engine, QWidget *parent);

    // hop 1..255, or 0 for none chosen; shows it at once when visible.
    void showHop(int16_t hop);
    int16_t hop() const { return hop_; }
    // Reads the engine again; does nothing while hidden.
    void refresh();
    // The hop's probes as tab-separated lines, as Copy puts them.
    QString probeText() const;

    // The target as the caption of a saved image names it ("host (address)").
    void setTargetText(std::function<QString()> targetText) { targetText_ = std::move(targetText); }
    // Writes the time line with its legend, the hop, the target and the time
    // span as PNG or SVG (by the name's suffix); empty, or why not.
    QString saveImage(const QString &path) const;

    TimeLineChart *chart() const { return chart_; }
    RttStatisticsGrid *statisticsGrid() const { return grid_; }

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QGroupBox *createTimeLine();
    QGroupBox *createStatistics();
    QGroupBox *createLoss();
    QGroupBox *createMtu();
    void createButtons();
    QLabel *addText(QWidget *parent, const char *name, const QString &description,
                    Qt::TextFormat format = Qt::PlainText);

    // The shown hop's figures, as one refresh reads them.
    struct HopFigures {
        RttStatistics all;
        std::vector<AddressStatistics> perAddress;
        LossBreakdown loss;
    };

    void showEmpty(const HopDetails &details);
    void showTimeLine(const HopDetails &details, const HopFigures &figures);
    void showStatistics(const HopDetails &details, const HopFigures &figures);
    void fitStatistics();
    void showMtu(const HopDetails &details);
    void showReturnPath(const HopDetails &details, const HopFigures &figures);
    QString entryText(const HopDetails &details, int32_t entry) const;
    QString ttlWord(const HopDetails &details, const HopFigures &figures) const;
    void copyProbes();
    void saveImageAs();

    const TraceEngine &engine_;
    int16_t hop_ = 0;
    QLabel *empty_ = nullptr;
    QWidget *content_ = nullptr;
    TimeLineChart *chart_ = nullptr;
    QLabel *legend_ = nullptr;
    QScrollArea *gridScroll_ = nullptr;
    RttStatisticsGrid *grid_ = nullptr;
    QLabel *avgNote_ = nullptr;
    SteadyText *lossText_ = nullptr;
    QLabel *mtu_ = nullptr;
    QLabel *returnPath_ = nullptr;
    QPushButton *copy_ = nullptr;
    QPushButton *saveImage_ = nullptr;
    std::function<QString()> targetText_;
};
