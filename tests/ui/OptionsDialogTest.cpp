#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QClipboard>
#include <QTest>
#include <QTimer>
#include <memory>

#include "RecordingSink.h"
#include "engine/TraceSettings.h"
#include "ui/FocusLeaveGuard.h"
#include "ui/MessageBoxSink.h"
#include "ui/OptionsDialog.h"

namespace {

struct FieldInfo {
    const char *name;
    int lo;
    int hi;
    int16_t TraceSettings::*setting;
};

const FieldInfo fieldInfos[] = {
    {"Text4", 60, 2000, &TraceSettings::optPacketSize},
    {"Text5", 1, 30, &TraceSettings::optTimeoutSec},
    {"Text6", 1, 10000, &TraceSettings::optMaxRuns},
    {"Text7", 1, 255, &TraceSettings::optMaxHops},
    {"Text1", 0, 255, &TraceSettings::optTos},
    {"Text8", 1, 10, &TraceSettings::optMtuRetries},
};

const FieldInfo &infoOf(const QString &name)
{
    for (const FieldInfo &f : fieldInfos) {
        if (name == QLatin1String(f.name))
            return f;
    }
    qFatal("no such field");
}

QString bounded(int lo, int hi)
{
    return QStringLiteral("Please insert a integer number greater than or equal to %1 and less "
                          "than or equal to %2.")
        .arg(lo)
        .arg(hi);
}

} // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void opensWithStoredSettings_data();
    void opensWithStoredSettings();
    void tabOrder();
    void passingFieldIsStored_data();
    void passingFieldIsStored();
    void failingFieldBlocksEveryControl_data();
    void failingFieldBlocksEveryControl();
    void okChecksAFieldSetWithoutFocus();
    void passingCheckRunsOncePerTab();
    void labelsAndDisabledControlsRunNoCheck();
    void findMtuProposesOneRunOf100Bytes();
    void defaultsResetControlsOnly();
    void okStoresAllNineAndReportsTheView();
    void cancelStoresNothing();
    void noKeyIsBoundToAButton();
    void enterPressesTheFocusedButton();
    void realMessageBox();

private:
    void open(MessageSink &messages);
    void open() { open(sink); }
    template <typename W> W *child(const char *name) const
    {
        W *w = dialog->findChild<W *>(QString::fromLatin1(name));
        if (!w)
            qFatal("missing control %s", name);
        return w;
    }
    QLineEdit *field(const QString &name) const { return child<QLineEdit>(qPrintable(name)); }
    void click(QWidget *w);
    void clickIndicator(QAbstractButton *box);
    void type(QLineEdit *edit, const QString &text);

    TraceSettings settings;
    RecordingSink sink;
    std::unique_ptr<OptionsDialog> dialog;
};

void OptionsDialogTest::init()
{
    settings = TraceSettings{};
    sink.messages.clear();
}

void OptionsDialogTest::cleanup() { dialog.reset(); }

void OptionsDialogTest::open(MessageSink &messages)
{
    dialog = std::make_unique<OptionsDialog>(settings, messages, nullptr);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
}

// Through the dialog's window, as a real press arrives: the focus-leave check
// sees it before Qt moves the focus.
void OptionsDialogTest::click(QWidget *w)
{
    QTest::mouseClick(dialog->windowHandle(), Qt::LeftButton, {},
                      w->mapTo(dialog.get(), w->rect().center()));
}

void OptionsDialogTest::clickIndicator(QAbstractButton *box)
{
    QTest::mouseClick(dialog->windowHandle(), Qt::LeftButton, {},
                      box->mapTo(dialog.get(), QPoint(8, box->height() / 2)));
}

void OptionsDialogTest::type(QLineEdit *edit, const QString &text)
{
    click(edit);
    QCOMPARE(dialog->focusWidget(), edit);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
    QCOMPARE(edit->text(), text);
}

void OptionsDialogTest::opensWithStoredSettings_data()
{
    QTest::addColumn<bool>("findMtu");
    QTest::addColumn<bool>("asymmetry");
    QTest::newRow("start-up values") << false << true;
    QTest::newRow("find MTU with TTL view") << true << false;
}

void OptionsDialogTest::opensWithStoredSettings()
{
    QFETCH(bool, findMtu);
    QFETCH(bool, asymmetry);
    settings = {true, findMtu, asymmetry, 1500, 30, 7, 255, 184, 10};
    open();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Options"));
    QCOMPARE(dialog->size(), QSize(322, 274));
    QCOMPARE(dialog->focusWidget(), child<QPushButton>("Command1"));
    QVERIFY(child<QCheckBox>("Check1")->isChecked());
    QCOMPARE(child<QCheckBox>("Check2")->isChecked(), findMtu);
    QCOMPARE(child<QGroupBox>("Frame1")->isEnabled(), findMtu);
    QCOMPARE(child<QRadioButton>("Option1")->isEnabled(), findMtu);
    QCOMPARE(child<QRadioButton>("Option2")->isEnabled(), findMtu);
    QCOMPARE(child<QRadioButton>("Option1")->isChecked(), asymmetry);
    QCOMPARE(child<QRadioButton>("Option2")->isChecked(), !asymmetry);
    // The stored values, not Find MTU's proposal of "100" and "1".
    const QStringList texts = {"1500", "30", "7", "255", "184", "10"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(field(QLatin1String(fieldInfos[i].name))->text(), texts[i]);
}

void OptionsDialogTest::tabOrder()
{
    open();
    const char *order[] = {"Command1", "Check1", "Text4",    "Text5",   "Text6", "Check2",
                           "Text7",    "Text1",  "Text8",    "Command3", "Command2"};
    QWidget *w = child<QWidget>(order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        QCOMPARE(w->objectName(), QLatin1String(order[i]));
    }
}

void OptionsDialogTest::passingFieldIsStored_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("stored");
    for (const FieldInfo &f : fieldInfos) {
        const QString n = QLatin1String(f.name);
        const int mid = (f.lo + f.hi) / 2;
        QTest::addRow("%s low bound", f.name) << n << QString::number(f.lo) << f.lo;
        QTest::addRow("%s high bound", f.name) << n << QString::number(f.hi) << f.hi;
        QTest::addRow("%s blanks around", f.name) << n << QStringLiteral(" %1 ").arg(mid) << mid;
        QTest::addRow("%s decimal zero", f.name) << n << QStringLiteral("%1.0").arg(mid) << mid;
    }
    QTest::newRow("Text1 minus zero") << "Text1" << "-0" << 0;
}

void OptionsDialogTest::passingFieldIsStored()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(int, stored);
    open();
    QSignalSpy applied(dialog.get(), &OptionsDialog::applied);
    type(field(name), text);
    click(child<QPushButton>("Command1"));
    QVERIFY(sink.messages.isEmpty());
    QCOMPARE(applied.count(), 1);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QVERIFY(!dialog->isVisible());
    QCOMPARE(int(settings.*infoOf(name).setting), stored);
}

void OptionsDialogTest::failingFieldBlocksEveryControl_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    for (const FieldInfo &f : fieldInfos) {
        const QString n = QLatin1String(f.name);
        QTest::addRow("%s below", f.name) << n << QString::number(f.lo - 1);
        QTest::addRow("%s above", f.name) << n << QString::number(f.hi + 1);
        QTest::addRow("%s empty", f.name) << n << QString();
        QTest::addRow("%s letters", f.name) << n << QStringLiteral("abc");
        QTest::addRow("%s number and letters", f.name) << n << QStringLiteral("20a");
        QTest::addRow("%s fraction", f.name) << n << QStringLiteral("2.5");
        QTest::addRow("%s two numbers", f.name) << n << QStringLiteral("1 2");
    }
    QTest::newRow("Text4 zero") << "Text4" << "0";
}

void OptionsDialogTest::failingFieldBlocksEveryControl()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    const FieldInfo &info = infoOf(name);
    open();
    QLineEdit *edit = field(name);
    type(edit, text);
    QVERIFY(sink.messages.isEmpty()); // typing never checks

    const auto expectBlocked = [&](int messages) {
        QCOMPARE(sink.messages.size(), messages);
        QCOMPARE(sink.messages.last().title, QStringLiteral("Korvalen"));
        QCOMPARE(sink.messages.last().text, bounded(info.lo, info.hi));
        QCOMPARE(sink.messages.last().icon, MessageIcon::none);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->focusWidget(), edit);
        QCOMPARE(edit->text(), text);
    };
    click(child<QPushButton>("Command1")); // OK
    expectBlocked(1);
    click(child<QPushButton>("Command3")); // Cancel
    expectBlocked(2);
    click(child<QPushButton>("Command2")); // Defaults
    expectBlocked(3);
    QTest::keyClick(edit, Qt::Key_Tab);
    expectBlocked(4);
    QTest::keyClick(edit, Qt::Key_Backtab, Qt::ShiftModifier);
    expectBlocked(5);
    QTest::keyClick(edit, Qt::Key_Tab, Qt::ControlModifier); // moves no focus: no check
    expectBlocked(5);
    clickIndicator(child<QCheckBox>("Check2"));
    expectBlocked(6);
    QVERIFY(!child<QCheckBox>("Check2")->isChecked());
    // A click from code, as a screen reader's Press action makes, moves no focus.
    child<QPushButton>("Command1")->click();
    expectBlocked(7);
    child<QPushButton>("Command3")->click();
    expectBlocked(8);
    child<QPushButton>("Command2")->click();
    expectBlocked(9);

    // The close box is never blocked and stores nothing.
    dialog->close();
    QCOMPARE(sink.messages.size(), 9);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QCOMPARE(int(settings.*info.setting), int(TraceSettings{}.*info.setting));
}

// A screen reader can set a field's text without focusing it: OK checks every
// field, names the failing one and puts the focus there.
void OptionsDialogTest::okChecksAFieldSetWithoutFocus()
{
    open();
    QSignalSpy applied(dialog.get(), &OptionsDialog::applied);
    QAccessible::queryAccessibleInterface(field("Text7"))->setText(QAccessible::Value, "abc");
    click(child<QPushButton>("Command1"));
    QCOMPARE(sink.messages.size(), 1);
    QCOMPARE(sink.messages[0].text, bounded(1, 255));
    QCOMPARE(dialog->focusWidget(), field("Text7"));
    QVERIFY(dialog->isVisible());
    QCOMPARE(applied.count(), 0);
    QCOMPARE(settings.optMaxHops, int16_t(30));
}

// The guard on its own, counting its checks: one per Tab that leaves a field.
void OptionsDialogTest::passingCheckRunsOncePerTab()
{
    QWidget window;
    auto *first = new QLineEdit(&window);
    auto *second = new QLineEdit(&window);
    second->move(0, 30);
    int checks = 0;
    new FocusLeaveGuard(window, {first, second}, [&](QWidget &) { return ++checks > 0; });
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    first->setFocus();
    QTest::keyClick(first, Qt::Key_Tab);
    QCOMPARE(window.focusWidget(), second);
    QTest::keyClick(second, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(window.focusWidget(), first);
    QCOMPARE(checks, 2);
}

void OptionsDialogTest::labelsAndDisabledControlsRunNoCheck()
{
    open();
    QLineEdit *edit = field("Text5");
    type(edit, "x");
    click(dialog->findChild<QWidget *>("Label3"));
    clickIndicator(child<QRadioButton>("Option2")); // disabled with Find MTU clear
    QTest::mouseClick(dialog->windowHandle(), Qt::LeftButton, {}, QPoint(3, 3)); // background
    QVERIFY(sink.messages.isEmpty());
    QCOMPARE(dialog->focusWidget(), edit);
    click(edit); // a click into the field itself leaves nothing
    QVERIFY(sink.messages.isEmpty());
}

void OptionsDialogTest::findMtuProposesOneRunOf100Bytes()
{
    open();
    auto *check2 = child<QCheckBox>("Check2");
    type(field("Text4"), "1400");
    type(field("Text6"), "50");
    clickIndicator(check2);
    QVERIFY(sink.messages.isEmpty());
    QVERIFY(check2->isChecked());
    QCOMPARE(field("Text6")->text(), QStringLiteral("1"));
    QCOMPARE(field("Text4")->text(), QStringLiteral("100"));
    QVERIFY(child<QGroupBox>("Frame1")->isEnabled());
    QVERIFY(child<QRadioButton>("Option1")->isEnabled());
    QVERIFY(child<QRadioButton>("Option2")->isEnabled());
    clickIndicator(child<QRadioButton>("Option2"));
    QVERIFY(child<QRadioButton>("Option2")->isChecked());

    clickIndicator(check2);
    QVERIFY(!check2->isChecked());
    QCOMPARE(field("Text6")->text(), QStringLiteral("1"));
    QCOMPARE(field("Text4")->text(), QStringLiteral("100"));
    QVERIFY(!child<QGroupBox>("Frame1")->isEnabled());
    QVERIFY(!child<QRadioButton>("Option2")->isEnabled());
    QVERIFY(child<QRadioButton>("Option2")->isChecked()); // the choice stays
}

void OptionsDialogTest::defaultsResetControlsOnly()
{
    settings = {true, true, false, 1500, 30, 7, 255, 184, 10};
    const TraceSettings before = settings;
    open();
    click(child<QPushButton>("Command2"));
    QVERIFY(dialog->isVisible());
    QVERIFY(!child<QCheckBox>("Check1")->isChecked());
    QVERIFY(!child<QCheckBox>("Check2")->isChecked());
    QVERIFY(!child<QGroupBox>("Frame1")->isEnabled());
    QVERIFY(child<QRadioButton>("Option1")->isChecked());
    QVERIFY(!child<QRadioButton>("Option2")->isChecked());
    const QStringList texts = {"100", "2", "20", "30", "0", "3"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(field(QLatin1String(fieldInfos[i].name))->text(), texts[i]);
    QCOMPARE(settings.optPacketSize, before.optPacketSize);
    QCOMPARE(settings.optFindMtu, before.optFindMtu);
    QCOMPARE(settings.optAsymmetryView, before.optAsymmetryView);
}

void OptionsDialogTest::okStoresAllNineAndReportsTheView()
{
    open();
    QSignalSpy applied(dialog.get(), &OptionsDialog::applied);
    clickIndicator(child<QCheckBox>("Check1"));
    clickIndicator(child<QCheckBox>("Check2"));
    clickIndicator(child<QRadioButton>("Option2"));
    const QStringList texts = {"1200", "5", "3", "40", "16", "2"};
    for (int i = 0; i < 6; ++i)
        type(field(QLatin1String(fieldInfos[i].name)), texts[i]);
    click(child<QPushButton>("Command1"));
    QVERIFY(sink.messages.isEmpty());
    QCOMPARE(applied.count(), 1);
    QCOMPARE(applied.first().first().toBool(), false);
    QVERIFY(settings.optResolveNames);
    QVERIFY(settings.optFindMtu);
    QVERIFY(!settings.optAsymmetryView);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(int(settings.*fieldInfos[i].setting), texts[i].toInt());
}

void OptionsDialogTest::cancelStoresNothing()
{
    open();
    clickIndicator(child<QCheckBox>("Check1"));
    type(field("Text7"), "64");
    click(child<QPushButton>("Command3"));
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QVERIFY(!settings.optResolveNames);
    QCOMPARE(settings.optMaxHops, int16_t(30));
}

void OptionsDialogTest::noKeyIsBoundToAButton()
{
    open();
    QTest::keyClick(child<QPushButton>("Command1"), Qt::Key_Escape);
    type(field("Text4"), "200");
    QTest::keyClick(field("Text4"), Qt::Key_Return);
    QVERIFY(dialog->isVisible());
    QCOMPARE(settings.optPacketSize, int16_t(100));
}

void OptionsDialogTest::enterPressesTheFocusedButton()
{
    open();
    type(field("Text4"), "200");
    child<QPushButton>("Command3")->setFocus(); // Cancel
    QTest::keyClick(child<QPushButton>("Command3"), Qt::Key_Return);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(settings.optPacketSize, int16_t(100));

    open();
    type(field("Text4"), "200");
    child<QPushButton>("Command1")->setFocus(); // OK
    QTest::keyClick(child<QPushButton>("Command1"), Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(settings.optPacketSize, int16_t(200));
}

// The one test of the real box: title, text, no icon, an OK button only.
void OptionsDialogTest::realMessageBox()
{
    MessageBoxSink real;
    open(real);
    type(field("Text8"), "11");
    bool seen = false;
    QString copied;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = box->windowTitle() == QStringLiteral("Korvalen") &&
               box->text() == bounded(1, 10) && box->icon() == QMessageBox::NoIcon &&
               box->buttons().size() == 1 && box->button(QMessageBox::Ok);
        // Ctrl+C copies the box as plain text
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        copied = QApplication::clipboard()->text();
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(20);
    QTimer::singleShot(5000, [&] {
        if (auto *w = QApplication::activeModalWidget())
            w->close();
    });
    click(child<QPushButton>("Command1"));
    poll.stop();
    QVERIFY(seen);
    const QString rule = QStringLiteral("---------------------------\n");
    QCOMPARE(copied, rule + "Korvalen\n" + rule + bounded(1, 10) + "\n" + rule + "OK\n" + rule);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->focusWidget(), field("Text8"));
}

QTEST_MAIN(OptionsDialogTest)
#include "OptionsDialogTest.moc"
