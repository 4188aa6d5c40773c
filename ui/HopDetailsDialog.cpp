#include "ui/HopDetailsDialog.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QMessageBox>
#include <QFileDialog>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/HopDetails.h"
#include "engine/TraceEngine.h"
#include "ui/RttStatisticsGrid.h"
#include "ui/SteadyText.h"
#include "ui/HopImage.h"
#include "ui/TimeLineChart.h"

namespace {

QString qs(const std::string &s) { return QString::fromStdString(s); }

QString answerText(MtuAnswer a)
{
    switch (a) {
    case MtuAnswer::reply:
        return QStringLiteral("reply");
    case MtuAnswer::tooBig:
        return QStringLiteral("too big");
    case MtuAnswer::noAnswer:
        return QStringLiteral("no answer");
    case MtuAnswer::other:
        break;
    }
    return QStringLiteral("other status");
}

// Each size once, with what its tries got: "1472 no answer/reply".
QString triesText(const std::vector<MtuTry> &tries)
{
    QStringList out;
    for (size_t i = 0; i < tries.size(); ++i) {
        if (i > 0 && tries[i].size == tries[i - 1].size)
            out.back() += QLatin1Char('/') + answerText(tries[i].answer);
        else
            out << QStringLiteral("%1 %2").arg(tries[i].size).arg(answerText(tries[i].answer));
    }
    return out.join(QStringLiteral(", "));
}

QString resultText(const MtuRecord &r)
{
    switch (r.result) {
    case MtuResult::found:
        return QStringLiteral("MTU %1.").arg(r.mtu);
    case MtuResult::failed:
        return QStringLiteral("a size got no decision within its tries: MTU ***.");
    case MtuResult::stopped:
        return QStringLiteral("Stop cut the search short: MTU ***.");
    case MtuResult::ambiguous:
    case MtuResult::none:
        break;
    }
    return {};
}

QString colourHex(const QColor &c) { return c.name(QColor::HexRgb); }

// A square in colour before text, for the legend (rich text).
QString swatchText(const QColor &colour, const QString &text)
{
    return QStringLiteral("<span style=\"color:%1\">&#9632;</span>&nbsp;%2")
        .arg(colourHex(colour), text.toHtmlEscaped());
}

} // namespace

HopDetailsDialog::HopDetailsDialog(const TraceEngine &engine, QWidget *parent)
    : QDialog(parent), engine_(engine)
{
    setObjectName(QStringLiteral("HopDetails"));
    setModal(false);
    setWindowTitle(QStringLiteral("Hop details \u2014 Korvalen"));
    setAccessibleDescription(
        QStringLiteral("What happened at the chosen hop of the table, probe by probe."));
    auto *layout = new QVBoxLayout(this);
    empty_ = addText(this, "Empty", QStringLiteral("Why nothing is shown"));
    layout->addWidget(empty_);
    content_ = new QWidget(this);
    auto *inner = new QVBoxLayout(content_);
    inner->setContentsMargins(0, 0, 0, 0);
    inner->addWidget(createTimeLine(), 3);
    inner->addWidget(createStatistics(), 2);
    inner->addWidget(createLoss());
    inner->addWidget(createMtu());
    layout->addWidget(content_, 1);
    createButtons();
    resize(780, 680);
}

// A wrapped text; its accessible name is the text unless one is set, the
// description says what it is.
QLabel *HopDetailsDialog::addText(QWidget *parent, const char *name, const QString &description,
                                  Qt::TextFormat format)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    label->setTextFormat(format);
    label->setAccessibleDescription(description);
    return label;
}

QGroupBox *HopDetailsDialog::createTimeLine()
{
    auto *box = new QGroupBox(QStringLiteral("Time line"), content_);
    auto *layout = new QVBoxLayout(box);
    chart_ = new TimeLineChart(box);
    chart_->setAccessibleName(QStringLiteral("Time line of the round-trip times"));
    layout->addWidget(chart_, 1);
    legend_ = addText(box, "Legend", QStringLiteral("Each address's colour in the time line"),
                      Qt::RichText);
    layout->addWidget(legend_);
    return box;
}

QGroupBox *HopDetailsDialog::createStatistics()
{
    auto *box = new QGroupBox(QStringLiteral("Statistics (ms)"), content_);
    auto *layout = new QVBoxLayout(box);
    gridScroll_ = new QScrollArea(box);
    gridScroll_->setWidgetResizable(true);
    gridScroll_->setFrameShape(QFrame::NoFrame);
    grid_ = new RttStatisticsGrid(gridScroll_);
    gridScroll_->setWidget(grid_);
    layout->addWidget(gridScroll_, 1);
    avgNote_ = addText(box, "AvgNote", QStringLiteral("How the figures relate to the table"));
    layout->addWidget(avgNote_);
    return box;
}

QGroupBox *HopDetailsDialog::createLoss()
{
    auto *box = new QGroupBox(QStringLiteral("Loss"), content_);
    auto *layout = new QVBoxLayout(box);
    // its shares move at almost every refresh
    lossText_ = new SteadyText(addText(box, "LossText", QStringLiteral("Loss explained")), box);
    layout->addWidget(lossText_);
    return box;
}

QGroupBox *HopDetailsDialog::createMtu()
{
    auto *box = new QGroupBox(QStringLiteral("MTU and return path"), content_);
    auto *layout = new QVBoxLayout(box);
    mtu_ = addText(box, "MtuText", QStringLiteral("The last MTU search"));
    returnPath_ = addText(box, "ReturnPathText", QStringLiteral("Reply TTL and what the Asym figure rests on"));
    layout->addWidget(mtu_);
    layout->addWidget(returnPath_);
    return box;
}

void HopDetailsDialog::createButtons()
{
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    const auto addAction = [this, buttons](const QString &caption, const char *name,
                                           const QString &description, void (HopDetailsDialog::*slot)()) {
        QPushButton *button = buttons->addButton(caption, QDialogButtonBox::ActionRole);
        button->setObjectName(QString::fromLatin1(name));
        button->setAccessibleDescription(description);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, slot);
        return button;
    };
    copy_ = addAction(QStringLiteral("Copy"), "Copy",
                      QStringLiteral("Puts the hop's probes on the clipboard as tab-separated lines: "
                                     "run, milliseconds since the start, address, round-trip time "
                                     "or timeout."),
                      &HopDetailsDialog::copyProbes);
    saveImage_ = addAction(QStringLiteral("Save image\u2026"), "SaveImage",
                           QStringLiteral("Saves the time line with its legend, the hop, the target "
                                          "and the time span as a PNG or SVG image."),
                           &HopDetailsDialog::saveImageAs);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout()->addWidget(buttons);
    auto *shortcut = new QShortcut(QKeySequence::Copy, this);
    connect(shortcut, &QShortcut::activated, this, &HopDetailsDialog::copyProbes);
}

void HopDetailsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    refresh();
}

// The legend's and the statistics' colours are picked for the palette, the
// statistics' height for the font: a change of style picks them again.
void HopDetailsDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        refresh();
}

void HopDetailsDialog::showHop(int16_t hop)
{
    hop_ = hop;
    refresh();
}

void HopDetailsDialog::refresh()
{
    if (!isVisible())
        return;
    const HopDetails details = engine_.details();
    setWindowTitle(hop_ ? QStringLiteral("Hop %1 \u2014 Korvalen").arg(hop_)
                        : QStringLiteral("Hop details \u2014 Korvalen"));
    if (!hop_ || details.probes(hop_).empty()) {
        showEmpty(details);
        return;
    }
    empty_->hide();
    content_->show();
    copy_->setEnabled(true);
    saveImage_->setEnabled(true);
    // Each figure is worked out once a refresh: a hop of a long trace holds
    // tens of thousands of probes.
    const HopFigures figures{details.statistics(hop_), details.addressStatistics(hop_),
                             details.loss(hop_)};
    showTimeLine(details, figures);
    showStatistics(details, figures);
    lossText_->setText(qs(lossText(figures.loss)));
    showMtu(details);
    showReturnPath(details, figures);
}

void HopDetailsDialog::showEmpty(const HopDetails &details)
{
    QString text;
    if (details.hopCount() == 0)
        text = QStringLiteral("No results: start a trace, then choose a row of the table.");
    else if (!hop_)
        text = QStringLiteral("Choose a row of the table: double-click it, or press Enter on it.");
    else
        text = QStringLiteral("Hop %1 has no probes in these results.").arg(hop_);
    empty_->setText(text);
    empty_->show();
    content_->hide();
    copy_->setEnabled(false);
    saveImage_->setEnabled(false);
    chart_->setProbes(nullptr, 0, {});
    chart_->setAccessibleDescription(text);
}

QString HopDetailsDialog::entryText(const HopDetails &details, int32_t entry) const
{
    if (entry == 0)
        return QStringLiteral("addresses the full address log could not hold");
    const QString name = qs(details.addressName(entry));
    const QString address = qs(details.addressText(entry));
    return name.isEmpty() ? address : address + QLatin1Char(' ') + name;
}

void HopDetailsDialog::showTimeLine(const HopDetails &details, const HopFigures &figures)
{
    const HopHistory &probes = details.probes(hop_);
    chart_->setProbes(&probes, probes.back().sentUs,
                      [this](int32_t entry) { return entryText(engine_.details(), entry); });
    QStringList legend, spoken;
    const AddressColours &colours = chart_->colours();
    for (int32_t entry : chart_->bins().seriesEntries()) {
        const QString text = entryText(details, entry);
        legend << swatchText(colours.of(entry), text);
        spoken << text;
    }
    legend << swatchText(TimeLineChart::lossColour(palette()),
                         QStringLiteral("lost probes along the top edge, the stronger the larger "
                                        "the share lost"));
    if (const uint32_t clipped = chart_->bins().clipped()) {
        const QString clip = QStringLiteral("%1 of the replies %2 above %3 ms (up to %4 ms): "
                                            "marked at the top edge")
                                 .arg(clipped)
                                 .arg(clipped == 1 ? QStringLiteral("lies") : QStringLiteral("lie"))
                                 .arg(chart_->bins().scaleUs() / 1000.0)
                                 .arg(chart_->bins().worstUs() / 1000.0, 0, 'f', 3);
        legend << QStringLiteral("&#9650;&nbsp;") + clip.toHtmlEscaped();
        spoken << clip;
    }
    legend_->setText(legend.join(QStringLiteral(" &nbsp;&nbsp; ")));
    legend_->setAccessibleName(QStringLiteral("Legend: ") + spoken.join(QStringLiteral("; ")));

    const RttStatistics &all = figures.all;
    const LossBreakdown &loss = figures.loss;
    QString summary = QStringLiteral("%1 probes, %2 replies").arg(all.probes).arg(all.replies);
    if (all.replies)
        summary += QStringLiteral(", median %1 ms").arg(all.median, 0, 'f', 3);
    summary += QStringLiteral(", %1 lost, longest run of losses %2.")
                   .arg(loss.lost)
                   .arg(loss.longestLossRun);
    chart_->setAccessibleDescription(summary);
}

void HopDetailsDialog::showStatistics(const HopDetails &details, const HopFigures &figures)
{
    std::vector<RttStatisticsGrid::Row> rows;
    const QString hopTitle = QStringLiteral("Hop %1").arg(hop_);
    rows.push_back({hopTitle, hopTitle, QColor(), figures.all, true});
    for (const AddressStatistics &a : figures.perAddress) {
        const QString text = entryText(details, a.entry);
        rows.push_back({text, text, chart_->colours().of(a.entry), a.stats, false});
    }
    grid_->showRows(rows);
    fitStatistics();
    QString note = QStringLiteral(
        "The table's Avg cuts each time to whole milliseconds and then their mean to a whole "
        "number, so it may sit up to (not including) 2 ms below Avg here.");
    if (const int32_t n = rows.front().stats.imprecise)
        note += QStringLiteral(" %1 of the replies carry only a whole-millisecond time.").arg(n);
    avgNote_->setText(note);
}

// The statistics get the room their figures need, up to the hop and four
// addresses, from the time line above them: with a larger font the stretch
// alone would cut the addresses off behind scroll bars. The dialog widens
// rather than hide a column, up to three quarters of the screen; beyond that
// (long names) the figures scroll sideways.
void HopDetailsDialog::fitStatistics()
{
    constexpr int shownRows = 1 + 4; // the hop and four addresses
    const bool down = grid_->rowCount() > shownRows;
    const int want = grid_->sizeHint().width() +
                     (down ? gridScroll_->verticalScrollBar()->sizeHint().width() : 0);
    const int room = screen()->availableGeometry().width() * 3 / 4;
    const bool across = want > room;
    gridScroll_->setMinimumSize(
        std::min(want, room),
        grid_->heightFor(std::min(grid_->rowCount(), shownRows)) +
            (across ? gridScroll_->horizontalScrollBar()->sizeHint().height() : 0));
    // a stop for Tab only where the keys have something to scroll
    gridScroll_->setFocusPolicy(down || across ? Qt::StrongFocus : Qt::NoFocus);
}

QString HopDetailsDialog::ttlWord(const HopDetails &details, const HopFigures &figures) const
{
    for (const AddressStatistics &a : figures.perAddress)
        if (a.entry && details.addressText(a.entry).find(':') != std::string::npos)
            return QStringLiteral("hop limit");
    return QStringLiteral("TTL");
}

void HopDetailsDialog::showMtu(const HopDetails &details)
{
    const MtuRecord &r = details.mtu(hop_);
    QString text;
    if (r.searching())
        text = r.tries.empty()
                   ? QStringLiteral("An MTU search of this hop (run %1) is starting.").arg(r.run)
                   : QStringLiteral("An MTU search of this hop (run %1) is going on; it has tried, "
                                    "in IP packet bytes: %2.")
                         .arg(r.run)
                         .arg(triesText(r.tries));
    else if (r.result == MtuResult::none)
        text = engine_.settings.optFindMtu ? QStringLiteral("No MTU search of this hop yet.")
                                           : QStringLiteral("Find MTU is off: no MTU search.");
    else if (r.result == MtuResult::ambiguous)
        text = QStringLiteral("The hop answers from several addresses, so no MTU search is made: "
                              "MTU ???.");
    else
        text = QStringLiteral("The last search (run %1) tried, in IP packet bytes: %2; %3")
                   .arg(r.run)
                   .arg(triesText(r.tries), resultText(r));
    mtu_->setText(text);
}

void HopDetailsDialog::showReturnPath(const HopDetails &details, const HopFigures &figures)
{
    const QString ttl = ttlWord(details, figures);
    QStringList text;
    if (const auto observed = details.replyTtl(hop_))
        text << QStringLiteral("Replies to the main probes arrive with %1 %2.").arg(ttl).arg(*observed);
    const auto basis = details.asymBasis(hop_);
    const bool asym = engine_.settings.optAsymmetryView;
    if (!basis)
        text << (engine_.settings.optFindMtu
                     ? QStringLiteral("No completed MTU search yet: the Asym/TTL figure rests on "
                                      "its replies.")
                     : QStringLiteral("The Asym/TTL figure rests on the MTU search's replies: "
                                      "with Find MTU off it stays empty."));
    else if (!basis->consistent)
        text << QStringLiteral("The last MTU search's replies arrived with differing %1s (the "
                               "first with %2), so the figure is ???.")
                    .arg(ttl)
                    .arg(basis->observed);
    else
        text << QStringLiteral("%1 the last MTU search's replies: they arrived with %2 %3, so the "
                               "hop most likely sent them with %4; that is %5 hops back against "
                               "%6 hops there%7.")
                    .arg(asym ? QStringLiteral("The Asym figure rests on")
                              : QStringLiteral("The TTL column shows the %1 of").arg(ttl))
                    .arg(ttl)
                    .arg(basis->observed)
                    .arg(basis->initialTtl)
                    .arg(basis->hopsBack)
                    .arg(basis->hopsThere)
                    .arg(asym ? QStringLiteral(", Asym %1").arg(basis->asym()) : QString());
    returnPath_->setText(text.join(QLatin1Char(' ')));
}

QString HopDetailsDialog::probeText() const
{
    return hop_ ? qs(engine_.details().probeLines(hop_)) : QString();
}

void HopDetailsDialog::copyProbes()
{
    const QString text = probeText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void HopDetailsDialog::saveImageAs()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save image"), QStringLiteral("hop-%1.png").arg(hop_),
        QStringLiteral("PNG image (*.png);;SVG image (*.svg)"));
    if (path.isEmpty())
        return;
    if (const QString error = saveImage(path); !error.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Korvalen"),
                             QStringLiteral("The image cannot be saved to %1: %2").arg(path, error));
}

QString HopDetailsDialog::saveImage(const QString &path) const
{
    const HopDetails details = engine_.details();
    const HopHistory &probes = details.probes(hop_);
    if (!hop_ || probes.empty())
        return QStringLiteral("the hop has no probes");
    QStringList addresses;
    for (int32_t entry : chart_->bins().seriesEntries())
        addresses << entryText(details, entry);
    QStringList caption{QStringLiteral("Hop %1: %2").arg(hop_).arg(addresses.join(QStringLiteral(", ")))};
    if (targetText_)
        caption << QStringLiteral("Target: %1").arg(targetText_());
    caption << QStringLiteral("Runs %1 to %2, %3 s to %4 s from the start")
                   .arg(probes[0].run)
                   .arg(probes.back().run)
                   .arg(probes[0].sentMs() / 1000.0, 0, 'f', 3)
                   .arg(probes.back().sentMs() / 1000.0, 0, 'f', 3);
    return saveHopImage(path, caption, *chart_, *legend_);
}
