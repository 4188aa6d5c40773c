#pragma once

#include <QWidget>
#include <functional>

#include "ui/TimeLineBins.h"

// The time line of one hop: x is the time since the trace started, y the
// round-trip time; every address the hop answered from in its own colour, lost
// probes as marks along the top edge. It paints from per-column bins, built
// when the probes are handed over or the width changes, never per repaint.
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

    // The colour of the n-th address a hop answered from (the address log's
    // order), the same in the chart and in the statistics' legend; replies
    // from addresses the full log could not hold are grey.
    static QColor seriesColour(int logged, const QPalette &palette);
    static QColor unloggedColour(const QPalette &palette);

    QSize sizeHint() const override { return {640, 240}; }
    QSize minimumSizeHint() const override { return {320, 160}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    static uint64_t axisEndUs(uint64_t latestUs);
    QRect plotRect() const;
    void rebin();
    double yMaxMs() const;
    int yOf(uint32_t rttUs, const QRect &plot) const;
    void paintGrid(QPainter &p, const QRect &plot) const;
    void paintProbes(QPainter &p, const QRect &plot) const;
    void paintFocus(QPainter &p, const QRect &plot) const;
    QString toolTipAt(const QPoint &pos) const;
    std::vector<QColor> seriesColours() const;

    const HopHistory *probes_ = nullptr;
    uint64_t endUs_ = 0;
    EntryText entryText_;
    TimeLineBins bins_;
    mutable int labelWidth_ = -1; // of the widest time label in the font; -1: not measured yet
};
