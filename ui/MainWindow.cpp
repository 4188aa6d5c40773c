#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QSaveFile>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "net/EchoService.h"
#include "net/Resolver.h"
#include "net/Sockets.h"
#include "record/TraceFile.h"
#include "record/TraceReplay.h"
#include "report/Report.h"
#include "ui/Accessibility.h"
#include "ui/ButtonKeys.h"
#include "ui/FontFit.h"
#include "ui/HopDetailsDialog.h"
#include "ui/MessageSink.h"
#include "ui/OptionsDialog.h"
#include "ui/ResultView.h"

namespace {

constexpr int clientWidth = 11670; // twips
constexpr int clientHeight = 8070;
// About 20 table refreshes a second keep the table live without a refresh per
// probe. A refresh (the changed cells set, the table and the Notes repainted)
// takes about a millisecond on a slow machine: at 60 a second that was a tenth
// of a fast trace's time, and figures that change faster than this cannot be
// read anyway.
constexpr qint64 refreshIntervalMs = 50;
// A fast trace yields before every probe, up to a hundred thousand times a
// second; a turn of the event loop every 4 ms keeps the window as live (a
// frame is 16 ms) for about five system calls a turn.
constexpr qint64 yieldIntervalNs = 4'000'000;

QString qs(const std::string &s) { return QString::fromStdString(s); }

template <typename W> W *named(W *w, const char *name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// Display boxes are never enabled, but what they show is the result: keep it in
// the normal text colour rather than the greyed-out one of disabled controls.
void keepReadable(QWidget &box)
{
    QPalette p = box.palette();
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::Base})
        p.setColor(QPalette::Disabled, role, p.color(QPalette::Active, role));
    box.setPalette(p);
}

// The IP address box as laid out, for an IPv4 address; an IPv6 one may reach
// the host entry's width.
constexpr TwipsRect text3Rect{2160, 720, 1575, 285};
constexpr int text3WidestTwips = 4575;

// An address longer than the box (IPv6) widens it to its text, at most to the
// host entry's width, and the tooltip holds the whole text; an address that
// fits leaves the box as laid out.
void fitAddressBox(QLineEdit &box)
{
    const QString text = box.text();
    const int margins = 2 * box.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &box) + 8;
    const int needed = box.fontMetrics().horizontalAdvance(text) + margins;
    QRect r = Twips::toRect(text3Rect);
    if (needed > r.width())
        r.setWidth(std::min(needed, Twips::toPixels(text3WidestTwips)));
    if (box.geometry() != r)
        box.setGeometry(r);
    box.setToolTip(needed > Twips::toRect(text3Rect).width() ? text : QString());
}

// The toolkit keeps geometry in single precision and rounds to whole twips.
int roundTwips(float v) { return static_cast<int>(std::nearbyint(v)); }

} // namespace

MainWindow::MainWindow(TraceSettings &settings, EchoService &echo, Resolver &resolver,
                       MessageSink &messages, QWidget *parent)
    : QWidget(parent), settings_(settings), echo_(echo), resolver_(resolver), messages_(messages),
      engine_(settings, echo, resolver, *this)
{
    setWindowTitle(QStringLiteral("Korvalen"));
    resize(Twips::toPixels(clientWidth), Twips::toPixels(clientHeight));
    createControls();
    FontFit::fitFont(*this);
    setTabOrder();
    load();
    setMinimumSize(size());
    // A wait for a reply or a look-up processes events like a yield; closing abandons it.
    const auto idle = [this] {
        processEvents();
        return !closing_;
    };
    echo_.setIdleHook(idle);
    resolver_.setIdleHook(idle);
    // Comes on a look-up's thread: the names are placed on the window's.
    resolver_.setLateNameHook([this] {
        QMetaObject::invokeMethod(this, &MainWindow::lateNamesCame, Qt::QueuedConnection);
    });
    Accessibility::describeMainWindow(*this);
    ButtonKeys::pressOnEnter(*this);
    connectHopDetails();
    engine_.setObserver(&recorder_);
    connectTraceFiles();
}

MainWindow::~MainWindow()
{
    echo_.setIdleHook({});
    resolver_.setIdleHook({});
    resolver_.setLateNameHook({});
}

void MainWindow::createControls()
{
    label1_ = addLabel("Label1", "Host name / IP address :", {240, 240, 1935, 255});
    combo1_ = named(new QComboBox(this), "Combo1");
    Twips::place(*combo1_, {2160, 240, 4575, 315});
    history_ = std::make_unique<HostHistory>(*combo1_);
    command1_ = addButton("Command1", "Start", command1Rect_);
    command3_ = addButton("Command3", "Options", command3Rect_);
    command4_ = addButton("Command4", "Copy to clipboad", command4Rect_);
    command4_->setEnabled(false);
    command2_ = addButton("Command2", "Quit", command2Rect_);
    addLabel("Label2", "Host name :", {240, 1200, 975, 255});
    text2_ = addDisplayBox("Text2", {2160, 1200, 4215, 285});
    addLabel("Label3", "IP address :", {240, 720, 1095, 255});
    text3_ = addDisplayBox("Text3", text3Rect);
    listView1_ = named(new ResultView(this), "ListView1");
    text8_ = named(new QPlainTextEdit(this), "Text8");
    text8_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text8_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text8_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text8_->setEnabled(false);
    keepReadable(*text8_);
    label10_ = addLabel("Label10", "Notes", label10Rect_);
    placeMovingControls();

    connect(command1_, &QPushButton::clicked, this, &MainWindow::command1Click);
    connect(command2_, &QPushButton::clicked, this, &MainWindow::close);
    connect(command3_, &QPushButton::clicked, this, &MainWindow::command3Click);
    connect(command4_, &QPushButton::clicked, this, &MainWindow::command4Click);
    connect(combo1_->lineEdit(), &QLineEdit::textEdited, this, &MainWindow::combo1Change);
    connect(combo1_, &QComboBox::activated, this, &MainWindow::combo1Click);
}

QLabel *MainWindow::addLabel(const char *name, const char *caption, const TwipsRect &r)
{
    auto *label = named(new QLabel(QString::fromLatin1(caption), this), name);
    Twips::place(*label, r);
    return label;
}

QPushButton *MainWindow::addButton(const char *name, const char *caption, const TwipsRect &r)
{
    auto *button = named(new QPushButton(QString::fromLatin1(caption), this), name);
    button->setAutoDefault(false);
    Twips::place(*button, r);
    return button;
}

QLineEdit *MainWindow::addDisplayBox(const char *name, const TwipsRect &r)
{
    auto *box = named(new QLineEdit(this), name);
    box->setEnabled(false);
    keepReadable(*box);
    Twips::place(*box, r);
    return box;
}

void MainWindow::setTabOrder()
{
    QWidget *const order[] = {combo1_, command1_, command3_, command4_, command2_,
                              text2_,  text3_,    listView1_, text8_};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void MainWindow::load()
{
    listView1_->addColumns();
    engine_.tracing = false;
    refHeight_ = heightTwips();
    refWidth_ = widthTwips();
    refStartLeft_ = command1Rect_.left;
    refOptionsLeft_ = command3Rect_.left;
    refListWidth_ = listView1Rect_.width;
    refHostColWidth_ = listView1_->columnWidthTwips(3);
    refNotesHeight_ = text8Rect_.height;
    settings_.setStartupValues();
    history_->load();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutControls();
}

void MainWindow::layoutControls()
{
    if (isMinimized())
        return;
    // The minimum size also goes to the window manager; this snaps back where
    // one ignores it.
    if (widthTwips() < refWidth_ || heightTwips() < refHeight_)
        resize(std::max(width(), Twips::toPixels(refWidth_)),
               std::max(height(), Twips::toPixels(refHeight_)));
    anchorRight(std::max(widthTwips(), refWidth_));
    splitHeight(std::max(heightTwips(), refHeight_));
    placeMovingControls();
}

// The buttons keep their distance to the right edge; the table, the Notes box
// and the Hostname column take up the change of width.
void MainWindow::anchorRight(int w)
{
    command1Rect_.left = w + (refStartLeft_ - refWidth_);
    command4Rect_.left = command1Rect_.left;
    command2Rect_.left = w + (refOptionsLeft_ - refWidth_);
    command3Rect_.left = command2Rect_.left;
    listView1Rect_.width = w + (refListWidth_ - refWidth_);
    text8Rect_.width = listView1Rect_.width;
    listView1_->setColumnWidthTwips(3, w + (refHostColWidth_ - refWidth_));
}

// Extra height goes three quarters to the table and one quarter to the Notes
// box, which sit 200 (label) and 400 (box) twips below the table.
void MainWindow::splitHeight(int h)
{
    const float e = static_cast<float>(h - refHeight_);
    listView1Rect_.height = roundTwips(e * 3 / 4 + static_cast<float>(3 * refNotesHeight_));
    text8Rect_.height = roundTwips(e / 4 + static_cast<float>(refNotesHeight_));
    text8Rect_.top = listView1Rect_.top + listView1Rect_.height + 400;
    label10Rect_.top = listView1Rect_.top + listView1Rect_.height + 200;
}

void MainWindow::placeMovingControls()
{
    Twips::place(*command1_, command1Rect_);
    Twips::place(*command4_, command4Rect_);
    Twips::place(*command2_, command2Rect_);
    Twips::place(*command3_, command3Rect_);
    Twips::place(*listView1_, listView1Rect_);
    Twips::place(*text8_, text8Rect_);
    Twips::place(*label10_, label10Rect_);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (inTrace_)
        closing_ = true;
    options_.reset();
    details_.reset();
    event->accept();
}

void MainWindow::clearResults()
{
    clearResultDisplay();
    command4_->setEnabled(false);
}

void MainWindow::clearResultDisplay()
{
    recorder_.clear();
    setWindowTitle(QStringLiteral("Korvalen"));
    text2_->clear();
    text3_->clear();
    fitAddressBox(*text3_);
    engine_.resetResults();
    refreshResults(true);
}

void MainWindow::processEvents()
{
    QCoreApplication::processEvents();
    if (!closing_)
        refreshResults(false);
}

void MainWindow::refreshResults(bool now)
{
    const ResultModel &results = engine_.results;
    if (results.revision() == shownRevision_)
        return;
    if (!now && sinceRefresh_.isValid() && sinceRefresh_.elapsed() < refreshIntervalMs)
        return;
    showingRows_ = true;
    listView1_->showRows(results);
    showingRows_ = false;
    // setting the text lays the box out anew, though most refreshes leave it as it was
    if (results.notes() != shownNotes_) {
        shownNotes_ = results.notes();
        text8_->setPlainText(qs(shownNotes_).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }
    shownRevision_ = results.revision();
    sinceRefresh_.start();
    refreshHopDetails();
}

void MainWindow::lateNamesCame()
{
    if (closing_)
        return;
    engine_.deliverLateNames();
    if (!inTrace_)
        refreshResults(true);
    refreshHopDetails(); // a name may change no cell, only the details' legend
}

// Double-click and Enter activate a row; the context menu holds the same
// command, for the row under the pointer (a right click makes it current).
void MainWindow::connectHopDetails()
{
    auto *action = new QAction(QStringLiteral("Hop details"), listView1_);
    action->setObjectName(QStringLiteral("HopDetailsAction"));
    listView1_->addAction(action);
    listView1_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(action, &QAction::triggered, this, &MainWindow::openHopDetails);
    connect(listView1_, &QTreeWidget::itemActivated, this, &MainWindow::openHopDetails);
    connect(listView1_, &QTreeWidget::itemDoubleClicked, this, &MainWindow::openHopDetails);
    connect(listView1_, &QTreeWidget::currentItemChanged, this, &MainWindow::followSelection);
}

void MainWindow::openHopDetails()
{
    if (!details_) {
        details_ = std::make_unique<HopDetailsDialog>(engine_, this);
        details_->setTargetText([this] {
            return combo1_->currentText() + QStringLiteral(" (") + text3_->text() + QLatin1Char(')');
        });
    }
    if (QTreeWidgetItem *item = listView1_->currentItem())
        details_->showHop(static_cast<int16_t>(listView1_->indexOfTopLevelItem(item) + 1));
    details_->show();
    details_->raise();
    details_->activateWindow();
}

// A reset leaves the details on their hop, empty, until the new trace reaches it.
void MainWindow::followSelection()
{
    QTreeWidgetItem *item = listView1_->currentItem();
    if (details_ && item && !showingRows_)
        details_->showHop(static_cast<int16_t>(listView1_->indexOfTopLevelItem(item) + 1));
}

void MainWindow::refreshHopDetails()
{
    if (details_ && !closing_)
        details_->refresh();
}

void MainWindow::createOptions()
{
    options_ = std::make_unique<OptionsDialog>(settings_, messages_, this);
    connect(options_.get(), &OptionsDialog::applied, this, &MainWindow::optionsApplied);
}

void MainWindow::optionsApplied(bool asymmetryView)
{
    listView1_->setHeaderText(12, asymmetryView ? QStringLiteral("Asym") : QStringLiteral("TTL"));
    clearResults();
}

void MainWindow::command1Click()
{
    if (inTrace_) { // Stop, pressed during a yield of the running trace
        end_.ended = "stopped";
        engine_.command1Click();
        return;
    }
    beginRecording();
    inTrace_ = true;
    engine_.command1Click();
    inTrace_ = false;
    if (closing_)
        return;
    end_.end = std::chrono::system_clock::now();
    if (!traceMessages_.empty())
        end_.ended = traceMessages_.front();
    end_.source = sourceTextTowards(text3_->text().toStdString());
    refreshResults(true);
}

// A new trace is recorded from its start, for Save trace... once it is over.
void MainWindow::beginRecording()
{
    setWindowTitle(QStringLiteral("Korvalen"));
    traceMessages_.clear();
    end_ = {{}, "completed", {}};
    recorder_.begin({TraceFile::version, "korvalen " KORVALEN_VERSION,
                     std::chrono::system_clock::now(), combo1Text(), AddressFamily::any, settings_});
}

// Save trace... and Open trace... sit beside Hop details in the table's
// context menu, their shortcuts work anywhere in the window, and Save is
// there whenever Copy to clipboard is.
void MainWindow::connectTraceFiles()
{
    saveAction_ = new QAction(QStringLiteral("Save trace\u2026"), listView1_);
    saveAction_->setObjectName(QStringLiteral("SaveTraceAction"));
    saveAction_->setShortcut(QKeySequence::Save);
    saveAction_->setEnabled(false);
    auto *openAction = new QAction(QStringLiteral("Open trace\u2026"), listView1_);
    openAction->setObjectName(QStringLiteral("OpenTraceAction"));
    openAction->setShortcut(QKeySequence::Open);
    for (QAction *action : {saveAction_, openAction}) {
        action->setShortcutContext(Qt::WindowShortcut);
        listView1_->addAction(action);
    }
    connect(saveAction_, &QAction::triggered, this, &MainWindow::saveTrace);
    connect(openAction, &QAction::triggered, this, &MainWindow::openTrace);
    command4_->installEventFilter(this);
    setAcceptDrops(true);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == command4_ && event->type() == QEvent::EnabledChange)
        saveAction_->setEnabled(command4_->isEnabled() && !recorder_.empty());
    return QWidget::eventFilter(watched, event);
}

void MainWindow::saveTrace()
{
    if (inTrace_ || !command4_->isEnabled() || recorder_.empty())
        return;
    const QString host = QString::fromStdString(recorder_.header().host);
    const QString suggested =
        QString(host).replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_")) +
        QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmm")) + QStringLiteral(".kvtrace");
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save trace"), suggested,
                                                QStringLiteral("Korvalen traces (*.kvtrace)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".kvtrace");
    saveTraceFile(path);
}

// Whole or not at all: the file is written beside its place and renamed over it.
bool MainWindow::saveTraceFile(const QString &path)
{
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    const TraceLog &log = recorder_.log();
    auto put = [&](const std::string &line) {
        written = written && file.write(line.data(), static_cast<qint64>(line.size())) ==
                                 static_cast<qint64>(line.size());
    };
    put(TraceFile::headerLine(recorder_.header()));
    for (const TraceRecord &record : log.records())
        put(TraceFile::recordLine(log, record));
    put(TraceFile::endLine(end_));
    if (!written || !file.commit()) {
        messageBox("The trace cannot be saved to " + path.toStdString() + ": " +
                       file.errorString().toStdString(),
                   MessageIcon::exclamation);
        return false;
    }
    setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" \u2014 Korvalen"));
    return true;
}

void MainWindow::openTrace()
{
    if (inTrace_)
        return;
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open trace"), QString(),
        QStringLiteral("Korvalen traces (*.kvtrace);;All files (*)"));
    if (!path.isEmpty())
        openTraceFile(path);
}

// The file is read and given to a scratch engine first: only a trace that
// replays whole replaces the one on screen.
void MainWindow::openTraceFile(const QString &path)
{
    if (inTrace_) {
        messageBox("A trace is running: press Stop before opening another.", MessageIcon::exclamation);
        return;
    }
    const TraceFile::ReadResult read = TraceFile::readPath(path.toStdString());
    std::string error = read.error;
    if (read.document) {
        TraceSettings scratchSettings = read.document->header.settings;
        TraceEngine scratch(scratchSettings, echo_, resolver_, *this);
        error = TraceReplay(*read.document, scratch, nullptr).run();
    }
    if (!error.empty()) {
        messageBox("The trace cannot be opened.\n" + QFileInfo(path).fileName().toStdString() +
                       ": " + error,
                   MessageIcon::exclamation);
        return;
    }
    showTrace(*read.document, QFileInfo(path).fileName());
}

// The window as it stood after the trace: the file's settings (the last
// column's title with them), host, boxes, rows, Notes and hop details.
void MainWindow::showTrace(const TraceDocument &document, const QString &name)
{
    settings_ = document.header.settings;
    listView1_->setHeaderText(12, settings_.optAsymmetryView ? QStringLiteral("Asym")
                                                             : QStringLiteral("TTL"));
    combo1_->setEditText(QString::fromStdString(document.header.host));
    clearResults();
    recorder_.begin(document.header);
    TraceReplay(document, engine_, this).run();
    // a file that ends early ends its trace as a closing window does: the
    // buttons are made ready here, as at the end of any trace
    command1_->setText(QStringLiteral("Start"));
    for (QWidget *control : {static_cast<QWidget *>(command1_), static_cast<QWidget *>(command3_),
                             static_cast<QWidget *>(command4_), static_cast<QWidget *>(combo1_)})
        control->setEnabled(true);
    end_ = document.end.value_or(TraceEnd{document.header.start, "stopped", {}});
    refreshResults(true);
    setWindowTitle(name + QStringLiteral(" \u2014 Korvalen"));
    if (!document.note.empty())
        messageBox(name.toStdString() + " ends early (" + document.note +
                       "): it shows the runs recorded in full.",
                   MessageIcon::exclamation);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!inTrace_ && urls.size() == 1 && urls.front().isLocalFile())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return;
    event->acceptProposedAction();
    openTraceFile(urls.front().toLocalFile());
}

void MainWindow::command3Click()
{
    if (!options_)
        createOptions();
    options_->exec();
    options_.reset();
}

// Builds the whole report again at every click; plain text is the only format placed.
// The toolkit does not say when the platform refuses the text: on X another
// client may hold the selection under a later time stamp than ours, and Qt
// only logs that. Reading the clipboard back tells, and the user is told.
void MainWindow::command4Click()
{
    const QString report = qs(clipboardReport(engine_, combo1Text(), text3_->text().toStdString(),
                                              text2_->text().toStdString()));
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(report);
    if (clipboard->text() != report)
        messageBox("Unable to copy the report to the clipboard.", MessageIcon::exclamation);
}

void MainWindow::combo1Change() { clearResults(); }

void MainWindow::combo1Click(int index)
{
    clearResultDisplay();
    history_->clickCheck(index);
    command4_->setEnabled(false);
}

void MainWindow::yield()
{
    if (sinceYield_.isValid() && sinceYield_.nsecsElapsed() < yieldIntervalNs)
        return;
    processEvents();
    sinceYield_.start();
}

void MainWindow::messageBox(const std::string &text, MessageIcon icon)
{
    if (inTrace_)
        traceMessages_.push_back(text);
    messages_.show(QStringLiteral("Korvalen"), qs(text), icon);
}

void MainWindow::setCommand1Caption(const std::string &caption)
{
    if (!closing_)
        command1_->setText(qs(caption));
}

void MainWindow::setCommand1Enabled(bool enabled)
{
    if (!closing_)
        command1_->setEnabled(enabled);
}

void MainWindow::setCommand3Enabled(bool enabled)
{
    if (!closing_)
        command3_->setEnabled(enabled);
}

void MainWindow::setCommand4Enabled(bool enabled)
{
    if (!closing_)
        command4_->setEnabled(enabled);
}

void MainWindow::setCombo1Enabled(bool enabled)
{
    if (!closing_)
        combo1_->setEnabled(enabled);
}

std::string MainWindow::combo1Text() const { return combo1_->currentText().toStdString(); }

void MainWindow::setText2(const std::string &text)
{
    if (!closing_)
        text2_->setText(qs(text));
}

void MainWindow::setText3(const std::string &text)
{
    if (closing_)
        return;
    text3_->setText(qs(text));
    fitAddressBox(*text3_);
}

void MainWindow::recordHistory()
{
    if (!closing_)
        history_->record();
}

void MainWindow::hideOptions()
{
    if (closing_)
        return;
    if (!options_)
        createOptions();
    options_->hide();
}
