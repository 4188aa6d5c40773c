// The main window on real widgets: start-up state, a trace against a scripted
// network, the host history and the layout that follows the window's size.
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QMenu>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>
#include <memory>

#include "WindowFixture.h"
#include "engine/ResultModel.h"
#include "ui/FontFit.h"
#include "ui/HopDetailsDialog.h"
#include "ui/RttStatisticsGrid.h"
#include "ui/TimeLineChart.h"
#include "ui/ResultView.h"
#include "ui/SteadyText.h"
#include "ui/Twips.h"

namespace {

const QString target = QStringLiteral("192.0.2.1");
const QString clearItem = QStringLiteral("Clear History");

QStringList itemsOf(const QComboBox &combo)
{
    QStringList out;
    for (int i = 0; i < combo.count(); ++i)
        out << combo.itemText(i);
    return out;
}

} // namespace

class MainWindowTest : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startUpState();
    void startUpColumns_data();
    void startUpColumns();
    void startUpGeometry_data();
    void startUpGeometry();

    void traceFillsTheTable();
    void stopEndsAfterTheProbeInFlight();
    void enterOnStartTraces();
    void aLateNameShowsWhileTheWindowIsIdle();
    void notesBoxFollowsTheNotes();

    void history_data();
    void history();
    void clearHistoryEmptiesEverything();
    void typingEmptiesResultsButKeepsTheList();

    void layoutFollowsSize_data();
    void layoutFollowsSize();
    void smallerThanLoadSnapsBack();
    void minimiseAndRestoreKeepTheLayout();
    void longAddressesWidenTheirColumnAndBox();

    void optionsOkRetitlesAndClears_data();
    void optionsOkRetitlesAndClears();
    void optionsCancelKeepsResults();

    void captionsFitALargeDesktopFont();

    void hopDetailsOpenFromTheTable_data();
    void hopDetailsOpenFromTheTable();
    void hopDetailsFollowTheRowAndEmptyWithTheTable();
    void hopDetailsOfASilentHopAndCopy();
    void hopDetailsDuringAnMtuSearch();
    void hopDetailsInADarkStyleAndALargeFont();
    void aSteadyTextStillTakesTheHeightItNeeds();

private:
    QString cell(int row, int column) const { return table()->topLevelItem(row)->text(column); }
    // A path of routers 10.0.0.<ttl> with the target at hop 3.
    void scriptPath();
    void startTrace(const QString &text);
    void fillResults();
    void chooseItem(int index);
    void verifyResultsEmpty();
    // Opens Options with a click on its button; act runs inside the modal dialog.
    void inOptions(const std::function<void(QDialog &)> &act);
    HopDetailsDialog *details() const { return window->hopDetails(); }
    QLabel *detailsText(const char *name) const
    {
        return details()->findChild<QLabel *>(QString::fromLatin1(name));
    }
};

void MainWindowTest::init()
{
    openWindow();
    QVERIFY(showWindow());
    // Load has given the settings their start-up values; keep traces short.
    settings.optMaxRuns = 2;
}

void MainWindowTest::cleanup()
{
    closeWindow();
}

void MainWindowTest::scriptPath()
{
    net->hop(1) = FakeHop{{"10.0.0.1"}};
    net->hop(2) = FakeHop{{"10.0.0.2"}};
    net->hop(3) = FakeHop{{target.toStdString()}};
    net->hop(3).status = IpStatus::success;
}

void MainWindowTest::startTrace(const QString &text)
{
    combo()->setEditText(text);
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
}

void MainWindowTest::fillResults()
{
    scriptPath();
    startTrace(target);
    QCOMPARE(table()->topLevelItemCount(), 3);
    QVERIFY(button("Command4")->isEnabled());
}

void MainWindowTest::chooseItem(int index)
{
    combo()->setCurrentIndex(index);
    emit combo()->activated(index);
}

void MainWindowTest::verifyResultsEmpty()
{
    QCOMPARE(table()->topLevelItemCount(), 0);
    QCOMPARE(child<QLineEdit>("Text2")->text(), QString());
    QCOMPARE(child<QLineEdit>("Text3")->text(), QString());
    QCOMPARE(child<QPlainTextEdit>("Text8")->toPlainText(), QString());
    QVERIFY(!button("Command4")->isEnabled());
    QCOMPARE(window->engine().maxhop, 0);
    QCOMPARE(window->engine().dbIndex, 0);
}

// ---- start-up

void MainWindowTest::startUpState()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Korvalen"));
    QCOMPARE(itemsOf(*combo()), QStringList{clearItem});
    QCOMPARE(combo()->currentText(), QString());
    QCOMPARE(button("Command1")->text(), QStringLiteral("Start"));
    QCOMPARE(button("Command4")->text(), QStringLiteral("Copy to clipboad"));
    QVERIFY(!button("Command4")->isEnabled());
    for (const char *name : {"Command1", "Command2", "Command3"})
        QVERIFY2(button(name)->isEnabled(), name);
    for (const char *name : {"Text2", "Text3"})
        QVERIFY2(!child<QLineEdit>(name)->isEnabled(), name);
    QVERIFY(!child<QPlainTextEdit>("Text8")->isEnabled());
    QCOMPARE(table()->topLevelItemCount(), 0);
    QVERIFY(!window->engine().tracing);
    QVERIFY(settings.optAsymmetryView);
    QCOMPARE(settings.optMaxHops, int16_t{30});
}

void MainWindowTest::startUpColumns_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("widthTwips");
    const struct {
        const char *header;
        int width;
    } columns[] = {{"Hop", 500},   {"IP address", 1700}, {"Hostname", 3300}, {"Sent", 600},
                   {"Recv", 600},  {"Loss %", 700},      {"Best", 600},      {"Avg", 600},
                   {"Worst", 600}, {"Last", 600},        {"MTU", 600},       {"Asym", 600}};
    int column = 1;
    for (const auto &c : columns) {
        QTest::addRow("%d %s", column, c.header) << column << QString::fromLatin1(c.header)
                                                 << c.width;
        ++column;
    }
}

void MainWindowTest::startUpColumns()
{
    QFETCH(int, column);
    QFETCH(QString, header);
    QFETCH(int, widthTwips);
    QCOMPARE(table()->columnCount(), 12);
    QCOMPARE(table()->headerItem()->text(column - 1), header);
    QCOMPARE(table()->columnWidth(column - 1), Twips::toPixels(widthTwips));
    QVERIFY(!table()->header()->isHidden());
}

void MainWindowTest::startUpGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    auto row = [](const char *name, TwipsRect r) {
        QTest::newRow(name) << QString::fromLatin1(name)
                            << QRect(r.left, r.top, r.width, r.height);
    };
    row("Combo1", {2160, 240, 4575, 315});
    row("Command1", {8040, 240, 1335, 495});
    row("Command3", {9840, 240, 1335, 495});
    row("Command4", {8040, 960, 1335, 495});
    row("Command2", {9840, 960, 1335, 495});
    row("Text2", {2160, 1200, 4215, 285});
    row("Text3", {2160, 720, 1575, 285});
    // The first layout pass makes the table three times the Notes box.
    row("ListView1", {120, 1680, 11415, 4365});
    row("Label10", {120, 6245, 855, 255});
    row("Text8", {120, 6445, 11415, 1455});
}

void MainWindowTest::startUpGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    const QWidget *w = child<QWidget>(qPrintable(name));
    QCOMPARE(w->geometry(),
             Twips::toRect({twips.left(), twips.top(), twips.width(), twips.height()}));
}

// ---- a trace through the window

void MainWindowTest::traceFillsTheTable()
{
    scriptPath();
    QStringList captionsDuringTrace;
    net->onRequest([&](const EchoRequest &, size_t) {
        captionsDuringTrace << button("Command1")->text();
        QVERIFY(!button("Command4")->isEnabled());
        QVERIFY(!button("Command3")->isEnabled());
        QVERIFY(!combo()->isEnabled());
    });
    startTrace(target);

    QCOMPARE(net->mainRequests().size(), size_t{6});
    QCOMPARE(captionsDuringTrace, QStringList(6, QStringLiteral("Stop")));
    QCOMPARE(table()->topLevelItemCount(), 3);
    const QStringList addresses = {"10.0.0.1", "10.0.0.2", target};
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(cell(row, 0), QStringLiteral(" %1").arg(row + 1));
        QCOMPARE(cell(row, 1), addresses[row]);
        QCOMPARE(cell(row, 3), QStringLiteral("2"));
        QCOMPARE(cell(row, 4), QStringLiteral("2"));
        // The table shows exactly what the engine holds, cell by cell.
        for (int col = 0; col < 12; ++col)
            QCOMPARE(cell(row, col),
                     QString::fromStdString(window->engine().results.cell(row + 1, col)));
    }
    QCOMPARE(child<QPlainTextEdit>("Text8")->toPlainText(),
             QString::fromStdString(window->engine().results.notes())
                 .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QCOMPARE(child<QLineEdit>("Text3")->text(), target);
    QCOMPARE(button("Command1")->text(), QStringLiteral("Start"));
    QVERIFY(button("Command1")->isEnabled());
    QVERIFY(button("Command3")->isEnabled());
    QVERIFY(button("Command4")->isEnabled());
    QVERIFY(combo()->isEnabled());
    QCOMPARE(itemsOf(*combo()), (QStringList{target, clearItem}));
    QVERIFY(sink.messages.isEmpty());
}

void MainWindowTest::stopEndsAfterTheProbeInFlight()
{
    scriptPath();
    settings.optMaxRuns = 20;
    net->onRequest([&](const EchoRequest &, size_t n) {
        if (n == 4)
            QTest::mouseClick(button("Command1"), Qt::LeftButton);
    });
    startTrace(target);

    QCOMPARE(net->requestCount(), size_t{4});
    QCOMPARE(table()->topLevelItemCount(), 3);
    QCOMPARE(cell(0, 3), QStringLiteral("2")); // the probe in flight was counted
    QCOMPARE(cell(1, 3), QStringLiteral("1"));
    QCOMPARE(button("Command1")->text(), QStringLiteral("Start"));
    QVERIFY(button("Command1")->isEnabled());
    QVERIFY(button("Command4")->isEnabled());
    QVERIFY(!window->engine().tracing);
}

// The names come after the trace has ended, on no event of the window's own.
void MainWindowTest::aLateNameShowsWhileTheWindowIsIdle()
{
    scriptPath();
    settings.optResolveNames = true;
    net->addLateName("10.0.0.1", "r1.late");
    net->addLateName(target.toStdString(), "dst.late");
    startTrace(target);
    QCOMPARE(cell(0, 2), QString());
    net->arriveLate();
    QTRY_COMPARE(cell(0, 2), QStringLiteral("r1.late"));
    QCOMPARE(cell(2, 2), QStringLiteral("dst.late"));
    QCOMPARE(child<QLineEdit>("Text2")->text(), QStringLiteral("dst.late"));
}

// ---- host history

void MainWindowTest::history_data()
{
    QTest::addColumn<QStringList>("starts");
    QTest::addColumn<QStringList>("list");
    const QString a = QStringLiteral("alpha.example");
    const QString b = QStringLiteral("beta.example");
    QTest::newRow("sorted") << QStringList{b, a} << QStringList{a, b, clearItem};
    QTest::newRow("same text again") << QStringList{b, a, a, b} << QStringList{a, b, clearItem};
    QTest::newRow("other case") << QStringList{a, "ALPHA.example"}
                                << QStringList{"ALPHA.example", a, clearItem};
    QTest::newRow("trailing blank") << QStringList{a, a + " "}
                                    << QStringList{a, a + " ", clearItem};
    QTest::newRow("command item text") << QStringList{clearItem} << QStringList{clearItem};
    QTest::newRow("empty text first") << QStringList{b, ""} << QStringList{"", b, clearItem};
    QTest::newRow("address") << QStringList{target, a} << QStringList{target, a, clearItem};
}

// Texts that do not resolve are recorded all the same.
void MainWindowTest::history()
{
    QFETCH(QStringList, starts);
    QFETCH(QStringList, list);
    for (const QString &text : starts)
        startTrace(text);
    QCOMPARE(itemsOf(*combo()), list);
    QCOMPARE(combo()->currentText(), starts.last());
}

void MainWindowTest::clearHistoryEmptiesEverything()
{
    startTrace(QStringLiteral("beta.example"));
    fillResults();
    QCOMPARE(combo()->count(), 3);
    chooseItem(2);
    QCOMPARE(itemsOf(*combo()), QStringList{clearItem});
    QCOMPARE(combo()->currentText(), QString());
    verifyResultsEmpty();

    // Choosing an earlier target keeps the list and empties its own results.
    fillResults();
    chooseItem(0);
    QCOMPARE(combo()->currentText(), target);
    QCOMPARE(itemsOf(*combo()), (QStringList{target, clearItem}));
    verifyResultsEmpty();
}

void MainWindowTest::typingEmptiesResultsButKeepsTheList()
{
    startTrace(QStringLiteral("beta.example"));
    fillResults();
    combo()->lineEdit()->setFocus();
    QTest::keyClick(combo()->lineEdit(), Qt::Key_X);
    QCOMPARE(combo()->currentText(), target + "x");
    QCOMPARE(itemsOf(*combo()), (QStringList{target, "beta.example", clearItem}));
    verifyResultsEmpty();
}

// A hop that answers from two addresses in turn fills the Notes box, with the
// text the engine holds; typing in the host entry empties it again.
void MainWindowTest::notesBoxFollowsTheNotes()
{
    scriptPath();
    net->hop(2) = FakeHop{{"10.0.0.2", "10.0.0.9"}};
    startTrace(target);
    const QString notes = QString::fromStdString(window->engine().results.notes())
                              .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QVERIFY(notes.contains(QStringLiteral("10.0.0.9")));
    QCOMPARE(child<QPlainTextEdit>("Text8")->toPlainText(), notes);
    combo()->lineEdit()->setFocus();
    QTest::keyClick(combo()->lineEdit(), Qt::Key_X);
    verifyResultsEmpty();
}

// ---- layout

void MainWindowTest::layoutFollowsSize_data()
{
    QTest::addColumn<int>("dw");
    QTest::addColumn<int>("dh");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    auto rows = [](const char *label, int dw, int dh, int tableHeight, int notesHeight) {
        const int w = 11415 + dw;
        const int labelTop = 1680 + tableHeight + 200;
        const struct {
            const char *name;
            QRect r;
        } expected[] = {
            {"Command1", {8040 + dw, 240, 1335, 495}}, {"Command3", {9840 + dw, 240, 1335, 495}},
            {"Command4", {8040 + dw, 960, 1335, 495}}, {"Command2", {9840 + dw, 960, 1335, 495}},
            {"Combo1", {2160, 240, 4575, 315}},        {"Text2", {2160, 1200, 4215, 285}},
            {"ListView1", {120, 1680, w, tableHeight}}, {"Label10", {120, labelTop, 855, 255}},
            {"Text8", {120, labelTop + 200, w, notesHeight}},
        };
        for (const auto &e : expected)
            QTest::addRow("%s %s", label, e.name) << dw << dh << QString::fromLatin1(e.name)
                                                   << e.r;
    };
    rows("wider by 1500", 1500, 0, 4365, 1455);
    // Extra height goes three quarters to the table, one quarter to the Notes.
    rows("taller by 1200", 0, 1200, 5265, 1755);
    // 53 pixels, the nearest to 800 twips: the quarters round to whole twips.
    rows("taller by 795", 0, 795, 4961, 1654);
    rows("both", 1500, 1200, 5265, 1755);
}

void MainWindowTest::layoutFollowsSize()
{
    QFETCH(int, dw);
    QFETCH(int, dh);
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    window->resize(window->width() + Twips::toPixels(dw), window->height() + Twips::toPixels(dh));
    QTRY_COMPARE(window->width(), Twips::toPixels(11670 + dw));
    const QWidget *w = child<QWidget>(qPrintable(name));
    QCOMPARE(w->geometry(),
             Twips::toRect({twips.left(), twips.top(), twips.width(), twips.height()}));
    // Only the Hostname column takes up the change of width.
    QCOMPARE(table()->columnWidth(2), Twips::toPixels(3300 + dw));
    QCOMPARE(table()->columnWidth(1), Twips::toPixels(1700));
    QCOMPARE(table()->columnWidth(11), Twips::toPixels(600));
}

void MainWindowTest::smallerThanLoadSnapsBack()
{
    const QSize load = window->size();
    const QRect tableAtLoad = table()->geometry();
    window->resize(load.width() + 100, load.height() + 60);
    QTRY_COMPARE(window->size(), QSize(load.width() + 100, load.height() + 60));
    window->resize(load.width() - 200, load.height() - 100);
    QTest::qWait(20);
    QCOMPARE(window->size(), load);
    QCOMPARE(table()->geometry(), tableAtLoad);
    QCOMPARE(button("Command1")->geometry(), Twips::toRect({8040, 240, 1335, 495}));
    QCOMPARE(table()->columnWidth(2), Twips::toPixels(3300));
}

void MainWindowTest::enterOnStartTraces()
{
    scriptPath();
    combo()->setEditText(target);
    QTest::keyClick(combo(), Qt::Key_Return); // Enter in the entry presses nothing
    QCOMPARE(table()->topLevelItemCount(), 0);
    button("Command1")->setFocus();
    QTest::keyClick(button("Command1"), Qt::Key_Return);
    QCOMPARE(table()->topLevelItemCount(), 3);
}

void MainWindowTest::minimiseAndRestoreKeepTheLayout()
{
    window->resize(window->width() + Twips::toPixels(1500), window->height() + Twips::toPixels(1200));
    QTRY_COMPARE(window->width(), Twips::toPixels(11670 + 1500));
    QStringList names = {"Command1", "Command2", "Command3", "Command4", "ListView1", "Text8", "Label10"};
    QList<QRect> before;
    for (const QString &n : names)
        before << child<QWidget>(qPrintable(n))->geometry();
    const int hostColumn = table()->columnWidth(2);

    window->showMinimized();
    QTest::qWait(20);
    window->showNormal();
    QTest::qWait(20);
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(child<QWidget>(qPrintable(names[i]))->geometry(), before[i]);
    QCOMPARE(table()->columnWidth(2), hostColumn);
}

// An IPv6 address is readable whole: its column widens to it, taking the
// width from the Hostname column, and its tooltip holds it. IPv4 rows, and
// the table once the long addresses are gone, keep the laid-out widths.
// The same holds for the IP address box.
void MainWindowTest::longAddressesWidenTheirColumnAndBox()
{
    ResultView view(nullptr);
    view.addColumns();
    const int address = Twips::toPixels(1700), host = Twips::toPixels(3300);
    ResultModel model;
    model.addRow("  1");
    model.setCell(1, 1, "255.255.255.255");
    view.showRows(model);
    QCOMPARE(view.columnWidth(1), address);
    QCOMPARE(view.columnWidth(2), host);
    QCOMPARE(view.topLevelItem(0)->toolTip(1), QString());

    const QString longest = QStringLiteral("2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff");
    model.addRow("  2");
    model.setCell(2, 1, longest.toStdString());
    view.showRows(model);
    QVERIFY(view.columnWidth(1) > view.fontMetrics().horizontalAdvance(longest));
    QCOMPARE(view.columnWidth(1) + view.columnWidth(2), address + host);
    QCOMPARE(view.topLevelItem(1)->toolTip(1), longest);
    QCOMPARE(view.topLevelItem(0)->toolTip(1), QString());
    // The window's width changes go to the Hostname column, the loan stays.
    const int widened = view.columnWidth(1);
    view.setColumnWidthTwips(3, 3300 + 1500);
    QCOMPARE(view.columnWidth(1), widened);
    QCOMPARE(view.columnWidth(1) + view.columnWidth(2), address + Twips::toPixels(4800));

    model.removeAllRows();
    view.showRows(model);
    QCOMPARE(view.columnWidth(1), address);
    QCOMPARE(view.columnWidth(2), Twips::toPixels(4800));

    // The IP address box likewise, up to the host entry's width.
    auto *box = child<QLineEdit>("Text3");
    const QRect laidOut = box->geometry();
    window->setText3("255.255.255.255");
    QCOMPARE(box->geometry(), laidOut);
    window->setText3(longest.toStdString());
    QVERIFY(box->width() > box->fontMetrics().horizontalAdvance(longest));
    QCOMPARE(box->geometry().topLeft(), laidOut.topLeft());
    QCOMPARE(box->toolTip(), longest);
    window->setText3("");
    QCOMPARE(box->geometry(), laidOut);
    QCOMPARE(box->toolTip(), QString());
}

void MainWindowTest::inOptions(const std::function<void(QDialog &)> &act)
{
    bool ran = false;
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        ran = true;
        act(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    QVERIFY(ran);
}

void MainWindowTest::optionsOkRetitlesAndClears_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<QString>("header");
    QTest::newRow("TTL view") << "Option2" << "TTL";
    QTest::newRow("Asymmetry view") << "Option1" << "Asym";
}

void MainWindowTest::optionsOkRetitlesAndClears()
{
    QFETCH(QString, view);
    QFETCH(QString, header);
    fillResults();
    inOptions([&](QDialog &dialog) {
        auto *option = dialog.findChild<QRadioButton *>(view);
        QVERIFY(option);
        // the View frame is enabled only while Find MTU is on
        if (!option->isEnabled())
            QTest::mouseClick(dialog.findChild<QAbstractButton *>("Check2"), Qt::LeftButton);
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(5, option->height() / 2));
        QTest::mouseClick(dialog.findChild<QPushButton *>("Command1"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    });
    QCOMPARE(table()->headerItem()->text(11), header);
    verifyResultsEmpty();
    QCOMPARE(settings.optAsymmetryView, header == QLatin1String("Asym"));
}

void MainWindowTest::optionsCancelKeepsResults()
{
    fillResults();
    inOptions([&](QDialog &dialog) {
        QTest::mouseClick(dialog.findChild<QRadioButton *>("Option2"), Qt::LeftButton);
        QTest::mouseClick(dialog.findChild<QPushButton *>("Command3"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
    });
    QCOMPARE(table()->headerItem()->text(11), QStringLiteral("Asym"));
    QCOMPARE(table()->topLevelItemCount(), 3);
    QVERIFY(button("Command4")->isEnabled());
}

// Desktops with large fonts must not cut captions off: the window and the
// dialog take a font small enough for every caption.
void MainWindowTest::captionsFitALargeDesktopFont()
{
    const QFont desktop = QApplication::font();
    QFont large = desktop;
    large.setPointSizeF(16);
    QApplication::setFont(large);
    MainWindow big(settings, *net, *net, sink);
    QApplication::setFont(desktop);
    big.show();
    QVERIFY(QTest::qWaitForWindowExposed(&big));
    QVERIFY(FontFit::captionsFit(big));
    QVERIFY(big.font().pointSizeF() < 16);
    QVERIFY(big.font().pointSizeF() >= FontFit::minPointSize);
    // the start-up window at the test's own font fits as well
    QVERIFY(FontFit::captionsFit(*window));

    bool checked = false;
    QTimer::singleShot(0, this, [&] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            checked = FontFit::captionsFit(*dialog);
            dialog->reject();
        }
    });
    QTest::mouseClick(big.findChild<QPushButton *>("Command3"), Qt::LeftButton);
    QVERIFY(checked);
}

// ---- Hop details

void MainWindowTest::hopDetailsOpenFromTheTable_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("double-click") << "double-click";
    QTest::newRow("Enter") << "Enter";
    QTest::newRow("context menu") << "menu";
}

void MainWindowTest::hopDetailsOpenFromTheTable()
{
    QFETCH(QString, how);
    fillResults();
    QWidget *viewport = table()->viewport();
    const QPoint row2 = table()->visualItemRect(table()->topLevelItem(1)).center();
    if (how == QLatin1String("double-click")) {
        QTest::mouseClick(viewport, Qt::LeftButton, {}, row2); // the press a double-click starts with
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, row2);
    } else if (how == QLatin1String("Enter")) {
        table()->setFocus();
        table()->setCurrentItem(table()->topLevelItem(1));
        QTest::keyClick(table(), Qt::Key_Return);
    } else {
        QTest::mouseClick(viewport, Qt::RightButton, {}, row2);
        QTimer::singleShot(0, this, [] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            // Hop details first, then the saved trace's two commands
            QCOMPARE(menu->actions().size(), 3);
            QAction *action = menu->actions().front();
            QCOMPARE(action->text(), QStringLiteral("Hop details"));
            QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("Save trace\u2026"));
            QCOMPARE(menu->actions().at(2)->text(), QStringLiteral("Open trace\u2026"));
            // the keys, not a click: Qt 6.8 lets no click through to a menu the pointer never moved on
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, row2, viewport->mapToGlobal(row2));
        QApplication::sendEvent(viewport, &event);
    }
    QVERIFY(details());
    QTRY_VERIFY(details()->isVisible());
    QVERIFY(!details()->isModal());
    QCOMPARE(details()->windowTitle(), QStringLiteral("Hop 2 \u2014 Korvalen"));
    QCOMPARE(details()->parentWidget(), window.get());
    QCOMPARE(details()->statisticsGrid()->cellText(0, 2), QStringLiteral("2")); // replies
    // Escape closes it; the main window stays as it was.
    QTest::keyClick(details(), Qt::Key_Escape);
    QVERIFY(!details()->isVisible());
    QVERIFY(window->isVisible());
    QCOMPARE(table()->topLevelItemCount(), 3);
}

// It shows the current row's hop, also when the row moves during a trace, and
// empties when the table does; it stays on its hop for the next trace.
void MainWindowTest::hopDetailsFollowTheRowAndEmptyWithTheTable()
{
    // before any trace: empty, and says so
    window->openHopDetails();
    QVERIFY(details()->isVisible());
    QCOMPARE(details()->windowTitle(), QStringLiteral("Hop details \u2014 Korvalen"));
    QVERIFY(detailsText("Empty")->isVisible());
    QVERIFY(detailsText("Empty")->text().startsWith(QStringLiteral("No results")));
    QVERIFY(!details()->findChild<QPushButton *>("Copy")->isEnabled());

    scriptPath();
    settings.optMaxRuns = 4;
    net->onRequest([&](const EchoRequest &, size_t n) {
        if (n == 4) // the next yield refreshes: the table then shows hops 1 to 3
            QTest::qWait(60);
        if (n == 5)
            table()->setCurrentItem(table()->topLevelItem(2));
    });
    startTrace(target);
    QCOMPARE(details()->hop(), 3);
    QCOMPARE(details()->windowTitle(), QStringLiteral("Hop 3 \u2014 Korvalen"));
    QVERIFY(!detailsText("Empty")->isVisible());
    QCOMPARE(details()->statisticsGrid()->cellText(0, 1), QStringLiteral("4")); // every probe shown
    table()->setCurrentItem(table()->topLevelItem(0));
    QCOMPARE(details()->windowTitle(), QStringLiteral("Hop 1 \u2014 Korvalen"));

    combo()->lineEdit()->setFocus();
    QTest::keyClick(combo()->lineEdit(), Qt::Key_X); // the host entry's reset
    verifyResultsEmpty();
    QVERIFY(details()->isVisible());
    QCOMPARE(details()->hop(), 1);
    QVERIFY(detailsText("Empty")->isVisible());
    QCOMPARE(details()->probeText(), QString());

    net->rewind();
    startTrace(target);
    QVERIFY(!detailsText("Empty")->isVisible());
    QCOMPARE(details()->statisticsGrid()->cellText(0, 1), QStringLiteral("4"));
}

// A hop that never answers shows its losses and no times; Copy and Ctrl+C put
// one tab-separated line a probe on the clipboard.
void MainWindowTest::hopDetailsOfASilentHopAndCopy()
{
    scriptPath();
    net->hop(2) = FakeHop{};
    net->hop(3).rtts = {3, 5};
    settings.optMaxRuns = 3;
    startTrace(target);
    table()->setCurrentItem(table()->topLevelItem(1));
    window->openHopDetails();
    const RttStatisticsGrid *grid = details()->statisticsGrid();
    QCOMPARE(grid->rowCount(), 1); // the hop; no address answered
    QCOMPARE(grid->cellText(0, 1), QStringLiteral("3"));
    QCOMPARE(grid->cellText(0, 2), QStringLiteral("0"));
    QCOMPARE(grid->cellText(0, 5), QStringLiteral("\u2014")); // no median
    QVERIFY(!detailsText("LossText")->text().isEmpty());
    QVERIFY(details()->chart()->accessibleDescription().contains(QStringLiteral("3 lost")));
    QVERIFY(details()->chart()->accessibleDescription().contains(QStringLiteral("longest run of losses 3")));
    const QStringList silent = details()->probeText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(silent.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QStringList f = silent[i].split(QLatin1Char('\t'));
        QCOMPARE(f.size(), 4);
        QCOMPARE(f[0], QString::number(i + 1));
        QVERIFY2(f[1].contains(QRegularExpression(QStringLiteral("^[0-9]+\\.[0-9]{3}$"))), qPrintable(f[1]));
        QCOMPARE(f[3], QStringLiteral("timeout"));
    }

    table()->setCurrentItem(table()->topLevelItem(2));
    QCOMPARE(grid->rowCount(), 2); // the hop and its one address
    QCOMPARE(grid->cellText(1, 0), target);
    QCOMPARE(grid->cellText(0, 4), QStringLiteral("3.000")); // Best
    QCOMPARE(grid->cellText(0, 8), QStringLiteral("5.000")); // Worst
    QCOMPARE(grid->cellText(0, 5).isEmpty(), false);
    QVERIFY(grid->findChild<QLabel *>("cell0_5")->accessibleName().startsWith(QStringLiteral("Hop 3, Median: ")));
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    QTest::mouseClick(details()->findChild<QPushButton *>("Copy"), Qt::LeftButton);
    const QString copied = QGuiApplication::clipboard()->text();
    QCOMPARE(copied, details()->probeText());
    QCOMPARE(copied.split(QLatin1Char('\n'), Qt::SkipEmptyParts).first().section(QLatin1Char('\t'), 2),
             target + QStringLiteral("\t3.000"));
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    details()->activateWindow(); // the shortcut belongs to the dialog's window
    QVERIFY(QTest::qWaitForWindowActive(details()));
    QTest::keyClick(details()->windowHandle(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), copied);
}

// A refresh while the hop's MTU search is going on says so, with the sizes
// tried so far, and the found MTU once it ends.
void MainWindowTest::hopDetailsDuringAnMtuSearch()
{
    scriptPath();
    settings.optFindMtu = true;
    settings.optMaxRuns = 1;
    window->openHopDetails();
    QString during;
    int searchProbes = 0;
    net->onRequest([&](const EchoRequest &r, size_t) {
        if (!r.dontFragment() || r.destinationText() != "10.0.0.1" || ++searchProbes != 3)
            return;
        details()->showHop(1);
        details()->refresh();
        during = detailsText("MtuText")->text();
    });
    startTrace(target);
    QVERIFY2(during.startsWith(QStringLiteral("An MTU search of this hop (run 1) is going on; it "
                                              "has tried, in IP packet bytes: ")),
             qPrintable(during));
    details()->refresh();
    QVERIFY(detailsText("MtuText")->text().endsWith(QStringLiteral("MTU 1500.")));
}

// In a dark style every mark of the chart comes from the palette (no pixel
// darker than its Base or lighter than its Text: no hard-coded black or
// white), the losses are marked in colour, the legend takes the colours for a
// dark plot and says which slow reply the axis left out, and a larger font
// shows every address's figures without scrolling down.
void MainWindowTest::hopDetailsInADarkStyleAndALargeFont()
{
    scriptPath();
    net->hop(2) = FakeHop{{"10.0.0.2", "10.0.0.12", "10.0.0.22"}, "++-++-++-", {2, 3, 4, 2, 3, 2000}};
    settings.optMaxRuns = 9;
    startTrace(target);
    table()->setCurrentItem(table()->topLevelItem(1));
    window->openHopDetails();
    const QColor light(0xe6e6e6), plot(0x2d2d2d), mid(0x505050), window(0x353535);
    const QPalette dark(light, window, mid, plot, mid, light, light, plot, window);
    details()->setPalette(dark);
    QFont large = details()->font();
    large.setPointSizeF(large.pointSizeF() * 1.25); // a desktop's 11 pt against Qt's 9
    details()->setFont(large);
    QTest::qWait(50); // the layout settles

    const QImage shot = details()->chart()->grab().toImage();
    const int text = qGray(dark.color(QPalette::Text).rgb());
    int outside = 0, lossRed = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            outside += c.value() < 0x2d || std::min({c.red(), c.green(), c.blue()}) > text;
            lossRed += c.red() > c.green() + 0x30 && c.red() > c.blue() + 0x30;
        }
    QCOMPARE(outside, 0);
    QVERIFY(lossRed >= 5 * 4); // the fake's probes share a column: one mark, at least 5 by 4
    const QString legend = detailsText("Legend")->text();
    QVERIFY(legend.contains(QStringLiteral("#56b4e9"))); // sky blue first
    QVERIFY2(legend.contains(QStringLiteral("1 of the replies lies above 5 ms (up to 2000.000 ms)")),
             qPrintable(legend));

    QCOMPARE(details()->statisticsGrid()->rowCount(), 4); // the hop and its three addresses
    const auto *scroll = details()->findChild<QScrollArea *>();
    QVERIFY(!scroll->verticalScrollBar()->isVisible());
    QVERIFY(scroll->viewport()->height() >= details()->statisticsGrid()->sizeHint().height());
}

// The loss text passes its changes on only when its height moves: a longer
// text, and a narrower window, must still get the lines they need.
void MainWindowTest::aSteadyTextStillTakesTheHeightItNeeds()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *label = new QLabel;
    label->setWordWrap(true);
    auto *text = new SteadyText(label, &window);
    layout->addWidget(text);
    layout->addStretch();
    window.resize(300, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto fits = [&] {
        QApplication::processEvents();
        return label->height() >= label->heightForWidth(label->width()) &&
               label->width() == text->width();
    };
    text->setText(QStringLiteral("25 % of probes got no reply."));
    QVERIFY(fits());
    const int oneLine = label->height();
    text->setText(QStringLiteral("24.9 % of probes got no reply."));
    QVERIFY(fits());
    text->setText(QString(QStringLiteral("later hops answered in those runs; ")).repeated(6));
    QVERIFY(fits());
    QVERIFY(label->height() > oneLine);
    window.resize(150, 400);
    QVERIFY(fits());
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
