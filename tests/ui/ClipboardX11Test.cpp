// Copy to clipboard on a real X server: another client reads the report from
// the X selection, and a clipboard the platform refuses is reported, never
// claimed as done.
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>

#include "WindowFixture.h"
#include "report/Report.h"

namespace {

const QString refused = QStringLiteral("Unable to copy the report to the clipboard.");

// Lets our event loop run while an X client works: it may be asking us for the
// selection. The loop may also take the client's end, after which
// waitForFinished() only says false: the state tells.
bool finishServing(QProcess &process)
{
    QElapsedTimer timer;
    timer.start();
    while (process.state() != QProcess::NotRunning) {
        if (!process.waitForFinished(5))
            QCoreApplication::processEvents();
        if (timer.elapsed() > 10000)
            return false;
    }
    return process.error() != QProcess::FailedToStart &&
           process.exitStatus() == QProcess::NormalExit;
}

} // namespace

class ClipboardX11Test : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void anotherClientReadsTheReport();
    void refusedClipboardIsReported();

private:
    QPushButton *copy() const { return button("Command4"); }
    QString report() const
    {
        return QString::fromStdString(clipboardReport(window->engine(), "10.0.0.2", "10.0.0.2", ""));
    }
    QString readClipboard(bool serve = true);
    void realClick(QWidget *widget);
};

void ClipboardX11Test::initTestCase()
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        QSKIP("needs an X server (tests/ui/with-x.sh)");
}

void ClipboardX11Test::init()
{
    openWindow();
    net->hop(1).addresses = {"10.0.0.1"};
    net->hop(2).addresses = {"10.0.0.2"};
    net->hop(2).status = IpStatus::success;
    settings.optMaxRuns = 2;
    QVERIFY(showWindow());
    QTest::keyClicks(combo()->lineEdit(), QStringLiteral("10.0.0.2"));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QVERIFY(copy()->isEnabled());
}

void ClipboardX11Test::cleanup()
{
    closeWindow();
}

// serve: we may own the selection, so our event loop must run meanwhile.
QString ClipboardX11Test::readClipboard(bool serve)
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"});
    if (!(serve ? finishServing(xclip) : xclip.waitForFinished(10000)))
        return QStringLiteral("(xclip failed)");
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

// Through the X server, as a user's click comes, with its time stamp.
void ClipboardX11Test::realClick(QWidget *widget)
{
    QProcess xdotool;
    const QPoint at = widget->mapTo(window.get(), widget->rect().center());
    xdotool.start(QStringLiteral("xdotool"),
                  {"mousemove", "--window", QString::number(window->winId()),
                   QString::number(at.x()), QString::number(at.y()), "click", "1"});
    QVERIFY(finishServing(xdotool));
}

void ClipboardX11Test::anotherClientReadsTheReport()
{
    QTest::mouseClick(copy(), Qt::LeftButton);
    QVERIFY(sink.messages.isEmpty());
    const QString text = readClipboard();
    QVERIFY(text.startsWith(QStringLiteral("Tracing to : 10.0.0.2\r\n")));
    QCOMPARE(text, report());
}

// Another client takes the selection after the last X event we processed: Qt
// claims it with that older time stamp, which the X server ignores, and the
// report is not on the clipboard.
void ClipboardX11Test::refusedClipboardIsReported()
{
    // Were we the owner, losing the selection would bring us the newer time stamp.
    QGuiApplication::clipboard()->clear();
    QProcess owner;
    owner.start(QStringLiteral("xclip"), {"-i", "-quiet", "-selection", "clipboard"});
    QVERIFY(owner.waitForStarted());
    owner.write("other");
    QVERIFY(owner.waitForBytesWritten(5000));
    owner.closeWriteChannel();
    // Waiting without our event loop: its events would bring the claim's time stamp.
    QElapsedTimer waiting;
    waiting.start();
    while (readClipboard(false) != QStringLiteral("other"))
        QVERIFY(waiting.elapsed() < 5000);

    QTest::mouseClick(copy(), Qt::LeftButton);
    QCOMPARE(sink.messages.size(), 1);
    QCOMPARE(sink.messages[0].text, refused);
    QCOMPARE(sink.messages[0].icon, MessageIcon::exclamation);
    QCOMPARE(readClipboard(), QStringLiteral("other"));

    // A click the user makes now is later than the other client's claim.
    realClick(copy());
    QTRY_COMPARE_WITH_TIMEOUT(readClipboard(), report(), 5000);
    QCOMPARE(sink.messages.size(), 1);
    owner.kill();
    owner.waitForFinished();
}

QTEST_MAIN(ClipboardX11Test)
#include "ClipboardX11Test.moc"
