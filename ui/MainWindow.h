#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <memory>

#include "engine/TraceEngine.h"
#include "engine/WindowOps.h"
#include "record/TraceRecorder.h"
#include "ui/HostHistory.h"
#include "ui/Twips.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class MessageSink;
class HopDetailsDialog;
class OptionsDialog;
class ResultView;

// The program's one top-level window. It owns the trace engine, runs a trace
// inside the Start button's click and gives the engine its window operations.
// Keep it on main()'s stack: a trace may close it from inside a nested yield.
class MainWindow : public QWidget, public WindowOps {
    Q_OBJECT
public:
    MainWindow(TraceSettings &settings, EchoService &echo, Resolver &resolver,
               MessageSink &messages, QWidget *parent = nullptr);
    ~MainWindow() override;

    TraceEngine &engine() { return engine_; }
    // The Options dialog while it exists (shown, or created hidden by a Start).
    OptionsDialog *optionsDialog() const { return options_.get(); }
    // The Hop details dialog once it has been opened (it stays, hidden or not).
    HopDetailsDialog *hopDetails() const { return details_.get(); }
    // Shows the Hop details of the table's current row (double-click, Enter,
    // or the table's context menu).
    void openHopDetails();
    // Empties the result display: boxes, rows, notes, address log, hopNoted,
    // and disables Copy to clipboard.
    void clearResults();
    // Shows a saved trace as it was (korvalen FILE, a drop, Open trace...);
    // a file that cannot be shown leaves the window as it was and says why.
    void openTraceFile(const QString &path);
    // Writes the trace on screen to path; false (and the user told) when it cannot.
    bool saveTraceFile(const QString &path);

    // WindowOps
    void yield() override;
    void messageBox(const std::string &text, MessageIcon icon) override;
    void setCommand1Caption(const std::string &caption) override;
    void setCommand1Enabled(bool enabled) override;
    void setCommand3Enabled(bool enabled) override;
    void setCommand4Enabled(bool enabled) override;
    void setCombo1Enabled(bool enabled) override;
    std::string combo1Text() const override;
    void setText2(const std::string &text) override;
    void setText3(const std::string &text) override;
    void recordHistory() override;
    void hideOptions() override;
    bool closing() const override { return closing_; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    QLabel *addLabel(const char *name, const char *caption, const TwipsRect &r);
    QPushButton *addButton(const char *name, const char *caption, const TwipsRect &r);
    QLineEdit *addDisplayBox(const char *name, const TwipsRect &r);
    void setTabOrder();
    void load();
    void layoutControls();
    void anchorRight(int w);
    void splitHeight(int h);
    void placeMovingControls();
    int widthTwips() const { return Twips::fromPixels(width()); }
    int heightTwips() const { return Twips::fromPixels(height()); }

    void processEvents();
    void refreshResults(bool now);
    void lateNamesCame();
    void clearResultDisplay();
    void createOptions();
    void optionsApplied(bool asymmetryView);
    void connectHopDetails();
    void followSelection();
    void refreshHopDetails();

    void connectTraceFiles();
    void saveTrace();
    void openTrace();
    void beginRecording();
    void showTrace(const TraceDocument &document, const QString &name);

    void command1Click(); // Start / Stop
    void command3Click(); // Options
    void command4Click(); // Copy to clipboard
    void combo1Change();
    void combo1Click(int index);

    TraceSettings &settings_;
    EchoService &echo_;
    Resolver &resolver_;
    MessageSink &messages_;
    TraceEngine engine_;

    QLabel *label1_ = nullptr;
    QComboBox *combo1_ = nullptr;
    QPushButton *command1_ = nullptr; // Start / Stop
    QPushButton *command3_ = nullptr; // Options
    QPushButton *command4_ = nullptr; // Copy to clipboad
    QPushButton *command2_ = nullptr; // Quit
    QLineEdit *text2_ = nullptr;      // target's host name
    QLineEdit *text3_ = nullptr;      // target's IP address
    ResultView *listView1_ = nullptr;
    QPlainTextEdit *text8_ = nullptr; // Notes
    QLabel *label10_ = nullptr;       // "Notes"
    std::unique_ptr<HostHistory> history_;
    std::unique_ptr<OptionsDialog> options_;
    std::unique_ptr<HopDetailsDialog> details_;
    QAction *saveAction_ = nullptr;
    // What the world gave the trace on screen, for Save trace..., and how it ended.
    TraceRecorder recorder_;
    TraceEnd end_;
    std::vector<std::string> traceMessages_; // the message boxes of the trace running
    // The table is being brought in step with the rows: its current row moves
    // as rows go, which is no choice of the user's.
    bool showingRows_ = false;

    // Geometry of the controls the layout moves, in twips.
    TwipsRect command1Rect_{8040, 240, 1335, 495};
    TwipsRect command3Rect_{9840, 240, 1335, 495};
    TwipsRect command4Rect_{8040, 960, 1335, 495};
    TwipsRect command2Rect_{9840, 960, 1335, 495};
    TwipsRect listView1Rect_{120, 1680, 11415, 4455};
    TwipsRect text8Rect_{120, 6480, 11415, 1455};
    TwipsRect label10Rect_{120, 6240, 855, 255};

    // Captured at load; the layout keeps every control's distance to the
    // right and bottom edges from these.
    int refWidth_ = 0;
    int refHeight_ = 0;
    int refStartLeft_ = 0;
    int refOptionsLeft_ = 0;
    int refListWidth_ = 0;
    int refHostColWidth_ = 0;
    int refNotesHeight_ = 0;

    bool inTrace_ = false; // the Start click is running a trace
    bool closing_ = false; // the window closed during a trace
    uint64_t shownRevision_ = 0;
    std::string shownNotes_; // the Notes text the box shows
    QElapsedTimer sinceRefresh_;
    QElapsedTimer sinceYield_; // since the last yield that turned the event loop
};
