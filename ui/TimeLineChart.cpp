#include "ui/TimeLineChart.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <array>
#include <cmath>

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

// Okabe and Ito's palette, which readers with any common colour-vision
// deficiency can tell apart; black comes last and is the text colour, so it
// shows on a dark style too. The order puts the colours that stand out best
// from the plot's background first, as most hops answer from one or two
// addresses: on a light one the yellow is nearly invisible, on a dark one the
// deep blue is the dimmest.
constexpr std::array<QRgb, 7> okabeItoOnLight{0x0072B2, 0xD55E00, 0x009E73, 0xCC79A7,
                                              0xE69F00, 0x56B4E9, 0xF0E442};
constexpr std::array<QRgb, 7> okabeItoOnDark{0x56B4E9, 0xE69F00, 0x009E73, 0xCC79A7,
                                             0xF0E442, 0xD55E00, 0x0072B2};
constexpr int lossStrip = 7; // pixels along the top edge that hold the loss marks
constexpr int pad = 6;
constexpr int markWidth = 2; // of a probe's bar and a loss mark: never a hairline

// The smallest of 1, 2 and 5 times a power of ten that is at least v.
double niceCeil(double v)
{
    if (v <= 0)
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= v * (1 - 1e-9))
            return m * power;
    return 10 * power;
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

QColor TimeLineChart::seriesColour(int logged, const QPalette &palette)
{
    const bool dark = palette.color(QPalette::Base).lightness() <
                      palette.color(QPalette::Text).lightness();
    const auto &colours = dark ? okabeItoOnDark : okabeItoOnLight;
    const auto n = static_cast<size_t>(logged) % (colours.size() + 1);
    return n < colours.size() ? QColor(colours[n]) : palette.color(QPalette::Text);
}

QColor TimeLineChart::unloggedColour(const QPalette &palette)
{
    return palette.color(QPalette::Disabled, QPalette::Text);
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

double TimeLineChart::yMaxMs() const { return niceCeil(bins_.worstUs() * 1.05 / 1000.0); }

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

std::vector<QColor> TimeLineChart::seriesColours() const
{
    std::vector<QColor> colours;
    int logged = 0;
    for (int32_t entry : bins_.seriesEntries())
        colours.push_back(entry ? seriesColour(logged++, palette()) : unloggedColour(palette()));
    return colours;
}

// One column at a time: a loss mark at the top, and per address a bar from
// the lowest to the highest time in the column (a dot when they are one).
// The rectangles are gathered per colour and drawn in one call each.
void TimeLineChart::paintProbes(QPainter &p, const QRect &plot) const
{
    const std::vector<QColor> colours = seriesColours();
    std::vector<std::vector<QRect>> bars(colours.size());
    std::vector<QRect> losses;
    for (int c = 0; c < bins_.columns(); ++c) {
        const int x = plot.left() + c;
        if (bins_.lost(c))
            losses.emplace_back(x, plot.top() + 1, markWidth, lossStrip - 2);
        for (const TimeLineBins::Span &s : bins_.spans(c)) {
            const int top = yOf(s.maxUs, plot) - markWidth / 2;
            const int bottom = yOf(s.minUs, plot) + markWidth / 2;
            bars[s.series].emplace_back(x, top, markWidth, bottom - top + 1);
        }
    }
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Text));
    p.drawRects(losses.data(), static_cast<int>(losses.size()));
    for (size_t i = 0; i < bars.size(); ++i) {
        p.setBrush(colours[i]);
        p.drawRects(bars[i].data(), static_cast<int>(bars[i].size()));
    }
}

bool TimeLineChart::event(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        labelWidth_ = -1;
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
