#include "ui/TimeLineChart.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "engine/HopHistory.h"

namespace {

// over with weight/255 of top on it, as an opaque colour: a translucent fill
// is blended pixel by pixel, and the grid's lines in the text colour at 40/255
// made a repaint of 10 probes take 0.3-0.4 ms instead of 0.06
QColor mixed(const QColor &over, const QColor &top, int weight)
{
    const auto mix = [weight](int a, int b) { return (a * (255 - weight) + b * weight) / 255; };
    return QColor(mix(over.red(), top.red()), mix(over.green(), top.green()),
                  mix(over.blue(), top.blue()));
}

// A frame of width pixels along the inside of outer, drawn as four fills: the
// raster engine strokes a line or a rectangle's outline a pixel at a time,
// which cost a grid and its frame more than their text.
void fillFrame(QPainter &p, const QRect &outer, int width, const QColor &colour)
{
    p.fillRect(outer.left(), outer.top(), outer.width(), width, colour);
    p.fillRect(outer.left(), outer.bottom() - width + 1, outer.width(), width, colour);
    p.fillRect(outer.left(), outer.top(), width, outer.height(), colour);
    p.fillRect(outer.right() - width + 1, outer.top(), width, outer.height(), colour);
}

constexpr QRgb lossOnLight = 0xC8102E; // a red apart from every address colour
constexpr QRgb lossOnDark = 0xFF6F6F;
constexpr int lossStrip = 8;  // pixels along the top edge that hold the loss marks
constexpr int lossLevels = 8; // strengths of a loss mark, by the share lost in its column
constexpr int pad = 6;
constexpr int marker = 5;       // side of a reply's marker where probes are few
constexpr int markerRoom = 6;   // pixel columns a probe needs for markers
constexpr int clipMark = 4;     // rows of the triangle that marks a clipped reply
constexpr int bandWeight = 110; // of the address colour in a band, over the plot's background

double niceCeil(double v)
{
    return TimeLineBins::niceCeil(v);
}

// A small triangle pointing up from y, as a rectangle a row: drawn in the one
// call of its address's markers, where a polygon would take a call each.
void addClipMark(int x, int y, std::vector<QRect> &rects)
{
    for (int row = 0; row < clipMark; ++row)
        rects.emplace_back(x - row, y + row, 2 * row + 1, 1);
}

QString msText(double ms) { return QStringLiteral("%1 ms").arg(QString::number(ms, 'g', 6)); }

QString secondsText(double s, bool minutes)
{
    return minutes ? QStringLiteral("%1 min").arg(QString::number(s / 60, 'g', 6))
                   : QStringLiteral("%1 s").arg(QString::number(s, 'g', 6));
}

} // namespace

TimeLineChart::TimeLineChart(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TimeLine"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFocusPolicy(Qt::TabFocus); // a screen reader reaches its name and summary
    bins_.clear();
}

QColor TimeLineChart::lossColour(const QPalette &palette)
{
    return QColor(AddressColours::dark(palette) ? lossOnDark : lossOnLight);
}

// The axis ends at the next sixth of a round figure above the latest probe,
// so it grows in steps while a trace runs instead of at every refresh.
uint64_t TimeLineChart::axisEndUs(uint64_t latestUs)
{
    const double latest = std::max(static_cast<double>(latestUs), 1e6);
    const double step = niceCeil(latest / 6);
    return static_cast<uint64_t>(std::ceil(latest / step) * step);
}

void TimeLineChart::setProbes(const HopHistory *probes, uint64_t latestUs, EntryText entryText)
{
    probes_ = probes;
    endUs_ = axisEndUs(latestUs);
    entryText_ = std::move(entryText);
    rebin();
    update();
}

void TimeLineChart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    rebin();
}

void TimeLineChart::rebin()
{
    if (probes_)
        bins_.build(*probes_, endUs_, std::max(plotRect().width(), 1));
    else
        bins_.clear();
    colours_ = AddressColours(bins_.seriesEntries(), palette());
}

// A marker per reply while every probe has room for one.
bool TimeLineChart::markers() const
{
    return bins_.probeCount() * markerRoom <= static_cast<size_t>(bins_.columns());
}

QRect TimeLineChart::plotRect() const
{
    const QFontMetrics fm = fontMetrics();
    if (labelWidth_ < 0) // once per font, not at every repaint and every binning
        labelWidth_ = fm.horizontalAdvance(QStringLiteral("0000.00 ms"));
    const int left = labelWidth_ + pad;
    const int bottom = fm.height() + pad;
    return QRect(left, pad + fm.height() / 2, width() - left - 2 * pad,
                 height() - bottom - pad - fm.height() / 2);
}

double TimeLineChart::yMaxMs() const
{
    return bins_.scaleUs() / 1000.0;
}

// y grows downwards; the loss strip sits above the highest time.
int TimeLineChart::yOf(uint32_t rttUs, const QRect &plot) const
{
    const int span = plot.height() - lossStrip;
    const double f = std::min(1.0, rttUs / 1000.0 / yMaxMs());
    return plot.bottom() - static_cast<int>(std::lround(f * span));
}

void TimeLineChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    const QRect plot = plotRect();
    if (plot.width() < 2 || plot.height() < 2 * lossStrip)
        return;
    p.fillRect(plot, palette().color(QPalette::Base));
    paintGrid(p, plot);
    paintLosses(p, plot);
    paintProbes(p, plot);
    paintFocus(p, plot);
}

// The grid lines are one-pixel opaque fills, not lines, for the reasons
// fillFrame and mixed give.
void TimeLineChart::paintGrid(QPainter &p, const QRect &plot) const
{
    const QFontMetrics fm = fontMetrics();
    const QColor line = mixed(palette().color(QPalette::Base), palette().color(QPalette::Text), 40);
    const QColor text = palette().color(QPalette::WindowText);
    const double yMax = yMaxMs();
    const double yStep = niceCeil(yMax / 5);
    for (double v = 0; v <= yMax * (1 + 1e-9); v += yStep) {
        const int y = yOf(static_cast<uint32_t>(std::lround(v * 1000)), plot);
        p.fillRect(plot.left(), y, plot.width(), 1, line);
        p.setPen(text);
        const QString label = msText(v);
        p.drawText(plot.left() - pad - fm.horizontalAdvance(label), y + fm.ascent() / 2, label);
    }
    const double end = static_cast<double>(bins_.endUs()) / 1e6;
    const bool minutes = end > 300;
    const double xStep = minutes ? 60 * niceCeil(end / 60 / 6) : niceCeil(end / 6);
    for (double s = 0; s <= end * (1 + 1e-9); s += xStep) {
        const int x = plot.left() + static_cast<int>(std::lround(s / end * (plot.width() - 1)));
        p.fillRect(x, plot.top(), 1, plot.height(), line);
        p.setPen(text);
        const QString label = secondsText(s, minutes);
        const int w = fm.horizontalAdvance(label);
        p.drawText(std::clamp(x - w / 2, 0, width() - w), plot.bottom() + pad + fm.ascent(), label);
    }
    fillFrame(p, plot, 1, palette().color(QPalette::Mid));
}

// The chart takes the focus so that a screen reader reads its summary; a
// keyboard user sees where the focus went by the frame in the highlight colour.
void TimeLineChart::paintFocus(QPainter &p, const QRect &plot) const
{
    if (!hasFocus())
        return;
    // two pixels just outside the plot's own frame
    fillFrame(p, plot.adjusted(-2, -2, 2, 2), 2, palette().color(QPalette::Highlight));
}

// A mark per column that lost probes, at one of lossLevels strengths by the
// share it lost: at 10 000 probes a column holds some 16, and one lost among
// them is a faint mark, not one as loud as a column that lost them all.
void TimeLineChart::paintLosses(QPainter &p, const QRect &plot) const
{
    std::array<std::vector<QRect>, lossLevels> levels;
    // as wide as a probe's room, up to a marker's
    const auto room = bins_.columns() / std::max<size_t>(bins_.probeCount(), 1);
    const int width = static_cast<int>(std::clamp<size_t>(room, 1, marker));
    for (int c = 0; c < bins_.columns(); ++c) {
        if (!bins_.lost(c))
            continue;
        const uint32_t level = (bins_.lost(c) * lossLevels - 1) / bins_.probes(c);
        // inside the frame, also at either end of the axis
        const int left = std::clamp(plot.left() + c - width / 2, plot.left() + 1,
                                    plot.right() - width);
        levels[level].emplace_back(left, plot.top() + 1, width, lossStrip - 1);
    }
    const QColor base = palette().color(QPalette::Base);
    const QColor loss = lossColour(palette());
    p.setPen(Qt::NoPen);
    for (size_t l = 0; l < levels.size(); ++l) {
        const auto weight = static_cast<int>(64 + (255 - 64) * (l + 1) / levels.size());
        p.setBrush(mixed(base, loss, weight));
        p.drawRects(levels[l].data(), static_cast<int>(levels[l].size()));
    }
}

// One address's marks, gathered over the columns and drawn in a call each.
struct TimeLineChart::SeriesMarks {
    std::vector<QRect> bands;   // lowest to highest time of a column, in the pale colour
    std::vector<QRect> points;  // markers, or the mean's dot where probes are many
    std::vector<QLine> line;    // through the replies, or the columns' means
    std::optional<QPoint> last; // where the line goes on from; none after a column all lost
};

// A column's replies per address: a marker each (and a band between a
// column's lowest and highest) where probes are few, else a band and a dot
// at the mean; the line joins them; a reply above the axis marks the top edge.
void TimeLineChart::markColumn(int column, const QRect &plot, std::vector<SeriesMarks> &marks) const
{
    const int x = plot.left() + column;
    const bool few = markers();
    if (bins_.lost(column) > 0 && bins_.lost(column) == bins_.probes(column))
        for (SeriesMarks &m : marks)
            m.last.reset();
    for (const TimeLineBins::Span &s : bins_.spans(column)) {
        SeriesMarks &m = marks[s.series];
        const int high = yOf(s.maxUs, plot);
        const int low = yOf(s.minUs, plot);
        if (s.replies > 1 || !few)
            m.bands.emplace_back(x, high, 1, low - high + 1);
        const uint32_t scale = bins_.scaleUs();
        if (few && s.minUs <= scale)
            m.points.emplace_back(x - marker / 2, low - marker / 2, marker, marker);
        if (few && s.replies > 1 && s.maxUs <= scale)
            m.points.emplace_back(x - marker / 2, high - marker / 2, marker, marker);
        if (s.maxUs > scale)
            addClipMark(x, yOf(scale, plot), m.points);
        const QPoint at(x, yOf(s.meanUs(), plot));
        if (!few)
            m.points.emplace_back(x, at.y() - 1, 1, 2);
        if (m.last)
            m.line.emplace_back(*m.last, at);
        m.last = at;
    }
}

// The bands first, then per address its line and its markers over them.
void TimeLineChart::paintProbes(QPainter &p, const QRect &plot) const
{
    std::vector<SeriesMarks> marks(bins_.seriesEntries().size());
    for (int c = 0; c < bins_.columns(); ++c)
        markColumn(c, plot, marks);
    const QColor base = palette().color(QPalette::Base);
    const std::vector<QColor> &colours = colours_.inOrder();
    p.setPen(Qt::NoPen);
    for (size_t i = 0; i < marks.size(); ++i) {
        p.setBrush(mixed(base, colours[i], bandWeight));
        p.drawRects(marks[i].bands.data(), static_cast<int>(marks[i].bands.size()));
    }
    for (size_t i = 0; i < marks.size(); ++i) {
        QPen pen(colours[i], 1);
        pen.setCosmetic(true); // one device pixel: the raster engine's fast line
        p.setPen(pen);
        p.drawLines(marks[i].line.data(), static_cast<int>(marks[i].line.size()));
        p.setPen(Qt::NoPen);
        p.setBrush(colours[i]);
        p.drawRects(marks[i].points.data(), static_cast<int>(marks[i].points.size()));
    }
}

bool TimeLineChart::event(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        labelWidth_ = -1;
    if (event->type() == QEvent::PaletteChange)
        colours_ = AddressColours(bins_.seriesEntries(), palette());
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto *help = static_cast<QHelpEvent *>(event);
    const QString tip = toolTipAt(help->pos());
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), tip, this);
    return true;
}

// The probe of the column under the pointer (and its neighbours) whose mark
// is nearest to it.
QString TimeLineChart::toolTipAt(const QPoint &pos) const
{
    const QRect plot = plotRect();
    if (!probes_ || probes_->empty() || !plot.adjusted(-3, -3, 3, 3).contains(pos))
        return {};
    const int c = std::clamp(pos.x() - plot.left(), 0, bins_.columns() - 1);
    const size_t first = probes_->lowerBound(bins_.columnStartUs(std::max(c - 2, 0)));
    const size_t last = c + 3 >= bins_.columns() ? probes_->size()
                                                  : probes_->lowerBound(bins_.columnStartUs(c + 3));
    const HopProbe *best = nullptr;
    int bestDistance = 8;
    for (size_t i = first; i < last; ++i) {
        const HopProbe &probe = (*probes_)[i];
        const int x = plot.left() + bins_.columnOf(probe.sentUs);
        const int y = probe.lost ? plot.top() + lossStrip / 2 : yOf(probe.rttUs, plot);
        const int d = std::max(std::abs(x - pos.x()), std::abs(y - pos.y()));
        if (d < bestDistance) {
            bestDistance = d;
            best = &probe;
        }
    }
    if (!best)
        return {};
    const QString when = QString::number(best->sentMs() / 1000, 'f', 3);
    if (best->lost)
        return tr("Run %1, %2 s: timeout").arg(best->run).arg(when);
    const QString rtt = QString::number(best->rttMs(), 'f', 3);
    return tr("Run %1, %2 s, %3: %4 ms%5")
        .arg(best->run)
        .arg(when, entryText_ ? entryText_(best->entry) : QString(), rtt,
             best->precise ? QString() : tr(" (whole milliseconds)"));
}
