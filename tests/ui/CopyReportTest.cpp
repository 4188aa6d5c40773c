#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "engine/TraceSettings.h"
#include "report/Report.h"
#include "tests/fakes/FakeNetwork.h"
#include "ui/HopDetailsDialog.h"
#include "ui/TimeLineChart.h"
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

    // A trace saved and opened in another window copies the same report and
    // the same probes of every hop; a bad file leaves that window as it was.
    void anOpenedTraceCopiesWhatTheTraceDid()
    {
        FakeNetwork net;
        net.hop(1).addresses = {"10.0.0.1"};
        net.hop(1).answers = "+-++";
        net.hop(2).addresses = {"10.0.0.2", "10.0.0.22"};
        net.hop(3).addresses = {"10.0.0.3"};
        net.hop(3).status = IpStatus::success;
        net.hop(3).mtu = 1400;
        TraceSettings settings;
        SilentSink sink;
        MainWindow window(settings, net, net, sink);
        settings.optMaxRuns = 4;
        settings.optFindMtu = true;
        auto *combo = window.findChild<QComboBox *>(QStringLiteral("Combo1"));
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("10.0.0.3"));
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
        const std::string report = clipboardReport(window.engine(), "10.0.0.3", "10.0.0.3", "");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.kvtrace"));
        QVERIFY(window.saveTraceFile(path));
        QCOMPARE(window.windowTitle(), QStringLiteral("t.kvtrace \u2014 Korvalen"));

        FakeNetwork other;
        TraceSettings otherSettings;
        MainWindow opened(otherSettings, other, other, sink);
        opened.openTraceFile(path);
        QVERIFY2(sink.texts.isEmpty(), qPrintable(sink.texts.join('\n')));
        QCOMPARE(other.mainRequests().size(), size_t(0)); // nothing sent
        auto *copy = opened.findChild<QPushButton *>(QStringLiteral("Command4"));
        QVERIFY(copy->isEnabled());
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text().toStdString(), report);
        for (int16_t hop = 1; hop <= 3; ++hop)
            QCOMPARE(opened.engine().details().probeLines(hop),
                     window.engine().details().probeLines(hop));
        QCOMPARE(opened.windowTitle(), QStringLiteral("t.kvtrace \u2014 Korvalen"));

        // the opened hop's time line as a picture, PNG and SVG
        opened.show();
        opened.openHopDetails();
        opened.hopDetails()->showHop(1);
        const QString png = dir.filePath(QStringLiteral("hop.png"));
        const QString svg = dir.filePath(QStringLiteral("hop.svg"));
        QCOMPARE(opened.hopDetails()->saveImage(png), QString());
        QCOMPARE(opened.hopDetails()->saveImage(svg), QString());
        const QImage image(png);
        QVERIFY(image.width() >= opened.hopDetails()->chart()->width());
        QFile vector(svg);
        QVERIFY(vector.open(QIODevice::ReadOnly));
        const QByteArray text = vector.readAll();
        QVERIFY(text.contains("<svg") && text.contains("Hop 1: 10.0.0.1") &&
                text.contains("Target: 10.0.0.3 (10.0.0.3)"));

        QFile bad(dir.filePath(QStringLiteral("bad.kvtrace")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{\"korvalen-trace\":2}\n");
        bad.close();
        opened.openTraceFile(bad.fileName());
        QCOMPARE(sink.texts.size(), 1);
        QVERIFY2(sink.texts.front().contains(QStringLiteral("line 1: a trace of format version 2")),
                 qPrintable(sink.texts.front()));
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text().toStdString(), report);
        QCOMPARE(opened.windowTitle(), QStringLiteral("t.kvtrace \u2014 Korvalen"));
    }
};

QTEST_MAIN(CopyReportTest)
#include "CopyReportTest.moc"
