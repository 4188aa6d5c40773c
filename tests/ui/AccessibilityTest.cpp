// What a screen reader and a keyboard-only user meet: every control of the
// main window and the Options dialog named and described through Qt's
// accessibility interfaces, the focus moving in tab-index order, and a whole
// trace, the Options dialog and Copy driven from the keyboard alone.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "WindowFixture.h"
#include "ui/OptionsDialog.h"

namespace {

// The program's own controls in root's window; Qt's inner parts are named
// qt_… or not at all.
QList<QWidget *> controlsOf(const QWidget &root)
{
    QList<QWidget *> out;
    for (QWidget *w : root.findChildren<QWidget *>()) {
        const QString name = w->objectName();
        if (w->window() == &root && !name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
            out << w;
    }
    return out;
}

// The objects a screen reader reaches by walking the window's accessible tree.
void collectTree(QAccessibleInterface *iface, QSet<QObject *> &seen, int depth = 0)
{
    if (!iface || depth > 20)
        return;
    seen.insert(iface->object());
    for (int i = 0; i < iface->childCount(); ++i)
        collectTree(iface->child(i), seen, depth + 1);
}

QString nameOf(QWidget *w)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}

} // namespace

class AccessibilityTest : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void everyControlIsNamedAndDescribed_data();
    void everyControlIsNamedAndDescribed();
    void boxesAreLabelledByTheirLabels_data();
    void boxesAreLabelledByTheirLabels();
    void startNameFollowsItsCaption();

    void tabFollowsTheTabIndex_data();
    void tabFollowsTheTabIndex();
    void keyboardOnlyTraceOptionsAndCopy();

private:
    QWidget *showRoot(const QString &which);
    QWidget *child(QWidget *root, const char *name) const;
    // Presses Tab (or Shift+Tab) in root's window and returns the control that
    // then has the focus, after checking that its accessible state says so.
    QString tab(QWidget *root, bool backwards = false);
    void press(QWidget *root, Qt::Key key) { QTest::keyClick(root->windowHandle(), key); }
    void typeText(QWidget *root, const QString &text);
    void scriptPath();
    // Runs act once a modal dialog is up (a key press processes events before
    // its release opens the dialog), then closes the dialog if act did not.
    void inModalDialog(std::function<void(QDialog &)> act);

    std::unique_ptr<OptionsDialog> dialog;
};

void AccessibilityTest::init()
{
    openWindow();
    settings.optMaxRuns = 2; // after the window's load, which sets the start-up values
}

void AccessibilityTest::cleanup()
{
    dialog.reset();
    closeWindow();
}

QWidget *AccessibilityTest::showRoot(const QString &which)
{
    QWidget *root = window.get();
    if (which == QLatin1String("Options dialog")) {
        dialog = std::make_unique<OptionsDialog>(settings, sink, nullptr);
        root = dialog.get();
    }
    root->show();
    root->activateWindow();
    if (!QTest::qWaitForWindowActive(root))
        qWarning("window not active");
    return root;
}

QWidget *AccessibilityTest::child(QWidget *root, const char *name) const
{
    auto *w = root->findChild<QWidget *>(QString::fromLatin1(name));
    if (!w)
        qFatal("missing control %s", name);
    return w;
}

QString AccessibilityTest::tab(QWidget *root, bool backwards)
{
    QTest::keyClick(root->windowHandle(), Qt::Key_Tab,
                    backwards ? Qt::ShiftModifier : Qt::NoModifier);
    QWidget *focus = root->focusWidget();
    if (!focus)
        return QStringLiteral("(none)");
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(focus);
    if (!iface || !iface->state().focused)
        return focus->objectName() + QStringLiteral(" (not announced as focused)");
    return focus->objectName();
}

void AccessibilityTest::typeText(QWidget *root, const QString &text)
{
    for (QChar c : text)
        QTest::keyClick(root->windowHandle(), c.toLatin1());
}

void AccessibilityTest::scriptPath()
{
    net->hop(1) = FakeHop{{"10.0.0.1"}};
    net->hop(2) = FakeHop{{"10.0.0.2"}};
    net->hop(2).status = IpStatus::success;
    net->addName("10.0.0.2", "target.example");
}

void AccessibilityTest::inModalDialog(std::function<void(QDialog &)> act)
{
    auto *poll = new QTimer(this);
    auto tries = std::make_shared<int>(0);
    connect(poll, &QTimer::timeout, this, [poll, tries, act] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!d && ++*tries < 200)
            return;
        poll->deleteLater();
        poll->stop();
        if (!d)
            return;
        act(*d);
        if (d->isVisible())
            d->reject();
    });
    poll->start(10);
}

// ---- names and descriptions

void AccessibilityTest::everyControlIsNamedAndDescribed_data()
{
    QTest::addColumn<QString>("which");
    QTest::newRow("main window") << "main window";
    QTest::newRow("Options dialog") << "Options dialog";
}

void AccessibilityTest::everyControlIsNamedAndDescribed()
{
    QFETCH(QString, which);
    QWidget *root = showRoot(which);
    QAccessibleInterface *top = QAccessible::queryAccessibleInterface(root);
    QVERIFY(top);
    // A reader announces a top-level window by this role; a plain pane it passes over.
    QVERIFY2(top->role() == QAccessible::Window || top->role() == QAccessible::Dialog,
             qPrintable(QString::number(top->role(), 16)));
    QVERIFY(!top->text(QAccessible::Name).isEmpty());
    QVERIFY(!top->text(QAccessible::Description).isEmpty());
    QSet<QObject *> reachable;
    collectTree(top, reachable);

    const QList<QWidget *> controls = controlsOf(*root);
    QVERIFY(controls.size() >= 13);
    QHash<QString, QString> focusableByName;
    for (QWidget *w : controls) {
        const QByteArray id = w->objectName().toLatin1();
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
        QVERIFY2(iface, id);
        const QString name = iface->text(QAccessible::Name);
        QVERIFY2(!name.trimmed().isEmpty(), id);
        QVERIFY2(!iface->text(QAccessible::Description).trimmed().isEmpty(), id);
        // Client is the role of a plain widget: a reader could not say what it is.
        QVERIFY2(iface->role() != QAccessible::NoRole && iface->role() != QAccessible::Client, id);
        QVERIFY2(reachable.contains(w), id + " is not in the window's accessible tree");
        if (w->focusPolicy() & Qt::TabFocus) {
            QVERIFY2(!focusableByName.contains(name),
                     qPrintable(QStringLiteral("%1 and %2 are both announced as '%3'")
                                    .arg(focusableByName.value(name), w->objectName(), name)));
            focusableByName.insert(name, w->objectName());
        }
    }
}

void AccessibilityTest::boxesAreLabelledByTheirLabels_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("label");
    const char *main[][2] = {
        {"Combo1", "Label1"}, {"Text2", "Label2"}, {"Text3", "Label3"}, {"Text8", "Label10"}};
    for (const auto &row : main)
        QTest::addRow("main window %s", row[0]) << "main window" << row[0] << row[1];
    const char *options[][2] = {{"Text4", "Label3"}, {"Text5", "Label4"}, {"Text6", "Label5"},
                                {"Text7", "Label6"}, {"Text1", "Label7"}, {"Text8", "Label8"}};
    for (const auto &row : options)
        QTest::addRow("Options %s", row[0]) << "Options dialog" << row[0] << row[1];
}

// A reader announces a box with the label before it; the relation must point
// at the label the eye sees beside the box.
void AccessibilityTest::boxesAreLabelledByTheirLabels()
{
    QFETCH(QString, which);
    QFETCH(QString, box);
    QFETCH(QString, label);
    QWidget *root = showRoot(which);
    QAccessibleInterface *iface =
        QAccessible::queryAccessibleInterface(child(root, qPrintable(box)));
    QVERIFY(iface);
    QStringList labels;
    for (const auto &relation : iface->relations(QAccessible::Label))
        labels << relation.first->object()->objectName();
    QCOMPARE(labels, QStringList{label});
}

void AccessibilityTest::startNameFollowsItsCaption()
{
    showRoot(QStringLiteral("main window"));
    auto *start = static_cast<QPushButton *>(child(window.get(), "Command1"));
    scriptPath();
    QStringList during;
    net->onRequest([&](const EchoRequest &, size_t) { during << nameOf(start); });
    QCOMPARE(nameOf(start), QStringLiteral("Start"));
    static_cast<QComboBox *>(child(window.get(), "Combo1"))->setEditText(QStringLiteral("10.0.0.2"));
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(!during.isEmpty());
    QCOMPARE(during, QStringList(during.size(), QStringLiteral("Stop")));
    QCOMPARE(nameOf(start), QStringLiteral("Start"));
}

// ---- keyboard

void AccessibilityTest::tabFollowsTheTabIndex_data()
{
    QTest::addColumn<bool>("afterTrace");
    QTest::addColumn<QStringList>("order");
    // Disabled controls (Copy before a trace, the display boxes) are passed over.
    QTest::newRow("at start-up") << false
                                 << QStringList{"Command1", "Command3", "Command2", "ListView1",
                                                "Combo1"};
    QTest::newRow("after a trace") << true
                                   << QStringList{"Command1", "Command3", "Command4", "Command2",
                                                  "ListView1", "Combo1"};
}

void AccessibilityTest::tabFollowsTheTabIndex()
{
    QFETCH(bool, afterTrace);
    QFETCH(QStringList, order);
    QWidget *root = showRoot(QStringLiteral("main window"));
    if (afterTrace) {
        scriptPath();
        static_cast<QComboBox *>(child(root, "Combo1"))->setEditText(QStringLiteral("10.0.0.2"));
        QTest::mouseClick(static_cast<QPushButton *>(child(root, "Command1")), Qt::LeftButton);
        child(root, "Combo1")->setFocus();
    }
    QCOMPARE(root->focusWidget(), child(root, "Combo1"));
    QStringList forwards;
    for (int i = 0; i < order.size(); ++i)
        forwards << tab(root);
    QCOMPARE(forwards, order);

    QStringList backwards;
    for (int i = 0; i < order.size(); ++i)
        backwards << tab(root, true);
    QStringList reversed(order.rbegin() + 1, order.rend());
    reversed << order.last();
    QCOMPARE(backwards, reversed);
}

void AccessibilityTest::keyboardOnlyTraceOptionsAndCopy()
{
    scriptPath();
    QWidget *root = showRoot(QStringLiteral("main window"));
    auto *table = static_cast<QTreeWidget *>(child(root, "ListView1"));
    QCOMPARE(root->focusWidget(), child(root, "Combo1"));
    typeText(root, QStringLiteral("10.0.0.2"));
    QCOMPARE(static_cast<QComboBox *>(child(root, "Combo1"))->currentText(),
             QStringLiteral("10.0.0.2"));

    QCOMPARE(tab(root), QStringLiteral("Command1"));
    press(root, Qt::Key_Space);
    QCOMPARE(table->topLevelItemCount(), 2);
    QCOMPARE(root->focusWidget(), child(root, "Command1"));

    // Options: the focus opens on OK, Tab reaches Resolve names, Space checks
    // it, Shift+Tab goes back to OK, Space stores and closes.
    QCOMPARE(tab(root), QStringLiteral("Command3"));
    QStringList inDialog;
    bool ran = false;
    inModalDialog([&](QDialog &d) {
        ran = true;
        inDialog << d.focusWidget()->objectName() << tab(&d);
        press(&d, Qt::Key_Space);
        inDialog << tab(&d, true);
        press(&d, Qt::Key_Space);
    });
    press(root, Qt::Key_Space);
    QVERIFY(ran);
    QCOMPARE(inDialog, (QStringList{"Command1", "Check1", "Command1"}));
    QVERIFY(settings.optResolveNames);
    QCOMPARE(table->topLevelItemCount(), 0); // OK clears the results
    QCOMPARE(root->focusWidget(), child(root, "Command3"));
    // A window manager gives the activation back; offscreen has none.
    root->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(root));

    // Start again, with names, then Copy.
    QCOMPARE(tab(root, true), QStringLiteral("Command1"));
    press(root, Qt::Key_Space);
    QCOMPARE(table->topLevelItemCount(), 2);
    QCOMPARE(static_cast<QLineEdit *>(child(root, "Text2"))->text(),
             QStringLiteral("target.example"));
    QCOMPARE(tab(root), QStringLiteral("Command3"));
    QCOMPARE(tab(root), QStringLiteral("Command4"));
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    press(root, Qt::Key_Space);
    const QString report = QGuiApplication::clipboard()->text();
    QVERIFY2(report.startsWith(QStringLiteral("Tracing to : 10.0.0.2\r\nIP address : 10.0.0.2\r\n"
                                              "Host name  : target.example\r\n")),
             qPrintable(report));
    QVERIFY(report.contains(QStringLiteral("\r\nResolve names  : True\r\n")));
    QVERIFY(sink.messages.isEmpty());
}

QTEST_MAIN(AccessibilityTest)
#include "AccessibilityTest.moc"
