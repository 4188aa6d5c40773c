#pragma once

#include <QWidget>
#include <functional>

#include "ui/AddressColours.h"
#include "ui/TimeLineBins.h"

// The time line of one hop: x is the time since the trace started, y the
// round-trip time; every address the hop answered from in its own colour.
// Where probes are few, each reply is a marker and a line joins them; where
// they share a pixel column, a band spans each column's lowest to highest
// time with the line through its mean. Lost probes are marks along the top
// edge in the loss colour, the stronger the larger the share of the column's
// probes lost. The y axis ends about the 99th percentile when a few slow
// replies would press the rest flat; those are marked at the top edge. It
// paints from per-column bins, built when the probes are handed over or the
// width changes, never per repaint.
class TimeLineChart : public QWidget {
    Q_OBJECT
public:
    // Address text of an address-log entry, for the tooltip.
    using EntryText = std::function<QString(int32_t entry)>;

    explicit TimeLineChart(QWidget *parent = nullptr);

    // probes stays valid as long as the chart (it lives in the trace engine);
    // nullptr empties the chart. The x axis reaches a little beyond latestUs.
    void setProbes(const HopHistory *probes, uint64_t latestUs, EntryText entryText);
    const TimeLineBins &bins() const { return bins_; }
    // The colour of each address of the hop, for the legend and the statistics too.
    const AddressColours &colours() const { return colours_; }
    // Lost probes' marks at full strength.
    static QColor lossColour(const QPalette &palette);

    QSize sizeHint() const override { return {640, 240}; }
    QSize minimumSizeHint() const override { return {320, 160}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    struct SeriesMarks;

    static uint64_t axisEndUs(uint64_t latestUs);
    QRect plotRect() const;
    void rebin();
    bool markers() const;
    double yMaxMs() const;
    int yOf(uint32_t rttUs, const QRect &plot) const;
    void paintGrid(QPainter &p, const QRect &plot) const;
    void paintLosses(QPainter &p, const QRect &plot) const;
    void paintProbes(QPainter &p, const QRect &plot) const;
    void markColumn(int column, const QRect &plot, std::vector<SeriesMarks> &marks) const;
    void paintFocus(QPainter &p, const QRect &plot) const;
    QString toolTipAt(const QPoint &pos) const;

    const HopHistory *probes_ = nullptr;
    uint64_t endUs_ = 0;
    EntryText entryText_;
    TimeLineBins bins_;
    AddressColours colours_;
    mutable int labelWidth_ = -1; // of the widest time label in the font; -1: not measured yet
};
