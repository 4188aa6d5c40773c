// Host texts that are no usable target, typed into the real entry and traced
// with the real Start button: the message shown, what is probed, the history,
// and a window that is ready for the next trace afterwards.
#include <QLineEdit>

#include "WindowFixture.h"

namespace {

const QString target = QStringLiteral("192.0.2.1");
const QString clearItem = QStringLiteral("Clear History");
const QString unresolved = QStringLiteral("Unable to resolve the host name.");
const QString invalid = QStringLiteral("Invalid IP address");

} // namespace

class HostTextTest : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void badHostText_data();
    void badHostText();
    void typedCommandTextKeepsTheList_data();
    void typedCommandTextKeepsTheList();

private:
    void typeAndStart(const QString &text);
    void verifyIdle();
    QStringList items() const;
};

void HostTextTest::init()
{
    openWindow();
    QVERIFY(showWindow());
    settings.optMaxRuns = 2;
    settings.optMaxHops = 5;
    net->hop(1) = FakeHop{{"10.0.0.1"}};
    net->hop(2) = FakeHop{{target.toStdString()}};
    net->hop(2).status = IpStatus::success;
    net->addHost("target.example.", target.toStdString());
}

void HostTextTest::cleanup()
{
    closeWindow();
}

// Types the text key by key into an emptied entry, then clicks Start.
void HostTextTest::typeAndStart(const QString &text)
{
    QLineEdit *entry = combo()->lineEdit();
    entry->setFocus();
    entry->selectAll();
    QTest::keyClick(entry, Qt::Key_Delete);
    for (const QChar c : text) // keyClicks takes Latin-1 only
        QTest::sendKeyEvent(QTest::Click, entry, Qt::Key_unknown, QString(c), Qt::NoModifier);
    QCOMPARE(combo()->currentText(), text);
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
}

void HostTextTest::verifyIdle()
{
    QCOMPARE(button("Command1")->text(), QStringLiteral("Start"));
    for (const char *name : {"Command1", "Command2", "Command3", "Command4"})
        QVERIFY2(button(name)->isEnabled(), name);
    QVERIFY(combo()->isEnabled());
    QVERIFY(!window->engine().tracing);
}

QStringList HostTextTest::items() const
{
    QStringList out;
    for (int i = 0; i < combo()->count(); ++i)
        out << combo()->itemText(i);
    return out;
}

void HostTextTest::badHostText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");   // empty: none
    QTest::addColumn<QString>("address");   // Text3 after Start
    QTest::addColumn<QString>("probed");    // destination of the probes; empty: none sent
    QTest::addColumn<bool>("recorded");     // the text joins the history

    const QString shell = QStringLiteral("x; rm -rf ~ && echo $(id) `id` | cat > /tmp/f \"'\\");
    QTest::newRow("empty") << QString() << unresolved << QString() << QString() << true;
    QTest::newRow("blanks") << QStringLiteral("   ") << unresolved << QString() << QString()
                            << true;
    QTest::newRow("300 characters") << QString(300, QLatin1Char('a')) << unresolved << QString()
                                    << QString() << true;
    QTest::newRow("non-ASCII") << QStringLiteral("r\u00f6uter.\u4f8b.example") << unresolved
                               << QString() << QString() << true;
    QTest::newRow("shell metacharacters") << shell << unresolved << QString() << QString() << true;
    QTest::newRow("-1") << QStringLiteral("-1") << unresolved << QString() << QString() << true;
    // The search of the history finds the command item itself.
    QTest::newRow("Clear History") << clearItem << unresolved << QString() << QString() << false;
    QTest::newRow("999.1.1.1") << QStringLiteral("999.1.1.1") << unresolved << QString()
                               << QString() << true;
    // inet_addr's short, octal and hexadecimal forms; the address box shows the
    // address they stand for, and that is what is probed.
    QTest::newRow("1.2.3") << QStringLiteral("1.2.3") << QString() << QStringLiteral("1.2.0.3")
                           << QStringLiteral("1.2.0.3") << true;
    QTest::newRow("010.1.1.1") << QStringLiteral("010.1.1.1") << QString()
                               << QStringLiteral("8.1.1.1") << QStringLiteral("8.1.1.1") << true;
    QTest::newRow("0x7f.0.0.1") << QStringLiteral("0x7f.0.0.1") << QString()
                                << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1")
                                << true;
    // Addresses that are no single host are shown and refused.
    QTest::newRow("0.0.0.0") << QStringLiteral("0.0.0.0") << invalid << QStringLiteral("0.0.0.0")
                             << QString() << true;
    QTest::newRow("255.255.255.255") << QStringLiteral("255.255.255.255") << invalid
                                     << QStringLiteral("255.255.255.255") << QString() << true;
    QTest::newRow("224.0.0.1") << QStringLiteral("224.0.0.1") << invalid
                               << QStringLiteral("224.0.0.1") << QString() << true;
    QTest::newRow("127.0.0.1") << QStringLiteral("127.0.0.1") << QString()
                               << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1")
                               << true;
    QTest::newRow("trailing dot") << QStringLiteral("target.example.") << QString() << target
                                  << target << true;
}

void HostTextTest::badHostText()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, address);
    QFETCH(QString, probed);
    QFETCH(bool, recorded);

    typeAndStart(text);
    // The resolver gets the text as typed, in UTF-8, untrimmed.
    QCOMPARE(net->forwardLookups(), std::vector<std::string>{text.toStdString()});
    QStringList messages;
    for (const auto &m : sink.messages) {
        messages << m.text;
        QCOMPARE(m.title, QStringLiteral("Korvalen"));
        QCOMPARE(m.icon, MessageIcon::none);
    }
    QCOMPARE(messages, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(child<QLineEdit>("Text3")->text(), address);
    const auto requests = net->mainRequests();
    if (probed.isEmpty()) {
        QCOMPARE(requests.size(), size_t{0});
        QCOMPARE(table()->topLevelItemCount(), 0);
    } else {
        QVERIFY(!requests.empty());
        for (const EchoRequest &r : requests)
            QCOMPARE(QString::fromStdString(r.destinationText()), probed);
    }
    QCOMPARE(combo()->currentText(), text);
    QStringList list = recorded ? QStringList{text} : QStringList();
    QCOMPARE(items(), list << clearItem);
    verifyIdle();

    // The window is ready for a good trace at once.
    sink.messages.clear();
    net->rewind();
    typeAndStart(target);
    QVERIFY(sink.messages.isEmpty());
    QCOMPARE(table()->topLevelItemCount(), 2);
    QCOMPARE(table()->topLevelItem(1)->text(1), target);
    QCOMPARE(table()->topLevelItem(1)->text(3), QStringLiteral("2"));
    QCOMPARE(child<QLineEdit>("Text3")->text(), target);
    verifyIdle();
}

// Qt's combo chooses the item whose text was typed when the entry loses the
// focus or takes Enter; "Clear History" typed must never clear the list.
void HostTextTest::typedCommandTextKeepsTheList_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Tab") << int(Qt::Key_Tab) << 0;
    QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier);
    QTest::newRow("Enter") << int(Qt::Key_Return) << 0;
}

void HostTextTest::typedCommandTextKeepsTheList()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    typeAndStart(target);
    QLineEdit *entry = combo()->lineEdit();
    entry->setFocus();
    entry->selectAll();
    QTest::keyClicks(entry, clearItem);
    QTest::keyClick(entry, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(items(), (QStringList{target, clearItem}));
    QCOMPARE(combo()->currentText(), clearItem);
    QCOMPARE(table()->topLevelItemCount(), 0); // the edit cleared the results, nothing more
}

QTEST_MAIN(HostTextTest)
#include "HostTextTest.moc"
