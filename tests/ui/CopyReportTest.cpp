#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "engine/TraceSettings.h"
#include "report/Report.h"
#include "tests/fakes/FakeNetwork.h"
#include "ui/MainWindow.h"
#include "ui/MessageSink.h"

namespace {

class SilentSink : public MessageSink {
public:
    void show(const QString &, const QString &text, MessageIcon) override { texts << text; }
    QStringList texts;
};

} // namespace

// Copy after a real trace through the window puts the report on the clipboard.
class CopyReportTest : public QObject {
    Q_OBJECT
private slots:
    void copiesTheReportOfTheLastTrace()
    {
        FakeNetwork net;
        net.hop(1).addresses = {"10.0.0.1"};
        net.hop(2).addresses = {"10.0.0.2"};
        net.hop(2).status = IpStatus::success;
        TraceSettings settings;
        SilentSink sink;
        MainWindow window(settings, net, net, sink);
        settings.optMaxRuns = 2; // after the window's load, which sets the start-up values
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        auto *combo = window.findChild<QComboBox *>(QStringLiteral("Combo1"));
        auto *start = window.findChild<QPushButton *>(QStringLiteral("Command1"));
        auto *copy = window.findChild<QPushButton *>(QStringLiteral("Command4"));
        QVERIFY(combo && start && copy);
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("10.0.0.2"));
        QVERIFY(!copy->isEnabled());
        QTest::mouseClick(start, Qt::LeftButton);
        QCOMPARE(start->text(), QStringLiteral("Start"));
        QVERIFY(copy->isEnabled());
        QVERIFY(sink.texts.isEmpty());

        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        QTest::mouseClick(copy, Qt::LeftButton);
        const QString text = QGuiApplication::clipboard()->text();
        QVERIFY(text.startsWith(QStringLiteral("Tracing to : 10.0.0.2\r\nIP address : 10.0.0.2\r\n"
                                               "Host name  : \r\n\r\nOptions\r\n")));
        QVERIFY(text.contains(QStringLiteral("\r\nMax runs       : 2\r\n")));
        QVERIFY(text.contains(QStringLiteral("\r\n1   10.0.0.1                 2     2     0     ")));
        QVERIFY(text.contains(QStringLiteral("\r\n2   10.0.0.2                 2     2     0     ")));
        QVERIFY(text.endsWith(QStringLiteral("\r\n\r\nNotes\r\n")));
        QCOMPARE(text.toStdString(),
                 clipboardReport(window.engine(), "10.0.0.2", "10.0.0.2", ""));

        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
    }
};

QTEST_MAIN(CopyReportTest)
#include "CopyReportTest.moc"
