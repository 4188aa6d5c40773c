// Quit or the close box during a trace: the trace unwinds without another
// probe and without touching the closed window.
#include <functional>

#include "WindowFixture.h"
#include "net/Sockets.h"

namespace {

// Reverse look-ups that wait for an answer that never comes, as the system
// resolver does with a dead name server, until the idle hook gives up.
class SlowResolver : public Resolver {
public:
    std::optional<IpAddress> firstAddress(const std::string &host) override
    {
        const auto address = literalAddress(host);
        if (!address)
            return std::nullopt;
        return IpAddress::fromIpv4(*address);
    }
    std::string officialName(const IpAddress &) override
    {
        ++lookups;
        if (lookups == actAt && act)
            act(); // a queued event: only an idle hook that processes events delivers it
        for (int calls = 0; hook_ && calls < 1000; ++calls) {
            if (!hook_()) {
                ++abandoned;
                break;
            }
        }
        return {};
    }
    void setIdleHook(IdleHook hook) override { hook_ = std::move(hook); }

    int actAt = 0;
    std::function<void()> act;
    int lookups = 0;
    int abandoned = 0;

private:
    IdleHook hook_;
};

} // namespace

class MainWindowQuitTest : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void closeDuringTrace_data();
    void closeDuringTrace();
    void closeDuringLookUp_data();
    void closeDuringLookUp();

private:
    SlowResolver slow;
};

void MainWindowQuitTest::init()
{
    slow.lookups = slow.abandoned = slow.actAt = 0;
    slow.act = {};
    openWindow();
    QVERIFY(showWindow());
    settings.optMaxRuns = 20;
    net->hop(1) = FakeHop{{"10.0.0.1"}};
    net->hop(2) = FakeHop{{"10.0.0.2"}};
    net->hop(3) = FakeHop{{"192.0.2.1"}};
    net->hop(3).status = IpStatus::success;
    net->setIdleCallsPerRequest(2);
}

void MainWindowQuitTest::cleanup()
{
    closeWindow();
}

void MainWindowQuitTest::closeDuringTrace_data()
{
    QTest::addColumn<bool>("quitButton");
    QTest::addColumn<int>("atRequest");
    QTest::addColumn<bool>("findMtu");
    QTest::newRow("Quit at the first probe") << true << 1 << false;
    QTest::newRow("close box at the first probe") << false << 1 << false;
    QTest::newRow("Quit in a later run") << true << 5 << false;
    QTest::newRow("close box in a later run") << false << 5 << false;
    QTest::newRow("Quit during the MTU search") << true << 3 << true;
}

void MainWindowQuitTest::closeDuringTrace()
{
    QFETCH(bool, quitButton);
    QFETCH(int, atRequest);
    QFETCH(bool, findMtu);
    settings.optFindMtu = findMtu;
    int rowsAtClose = -1;
    net->onRequest([&](const EchoRequest &, size_t n) {
        if (static_cast<int>(n) != atRequest)
            return;
        QVERIFY(window->optionsDialog()); // Start created it hidden
        rowsAtClose = table()->topLevelItemCount();
        if (quitButton)
            QTest::mouseClick(button("Command2"), Qt::LeftButton);
        else
            window->close();
    });
    combo()->setEditText(QStringLiteral("192.0.2.1"));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);

    QCOMPARE(net->requestCount(), size_t(atRequest));
    QVERIFY(!window->isVisible());
    QVERIFY(!window->optionsDialog());
    QVERIFY(!window->engine().tracing);
    QCOMPARE(net->handlesOpen(), 0);
    // The engine's wind-down wrote nothing into the closed window.
    QCOMPARE(button("Command1")->text(), QStringLiteral("Stop"));
    QVERIFY(!button("Command4")->isEnabled());
    QCOMPARE(table()->topLevelItemCount(), rowsAtClose);
    QVERIFY(sink.messages.isEmpty());
}

void MainWindowQuitTest::closeDuringLookUp_data()
{
    QTest::addColumn<bool>("quitButton");
    QTest::addColumn<int>("atLookUp");
    QTest::newRow("Quit during the target's look-up") << true << 1;
    QTest::newRow("close box during a hop's look-up") << false << 2;
}

// The window's idle hook keeps a slow look-up's wait processing events, and
// closing the window abandons the look-up at once.
void MainWindowQuitTest::closeDuringLookUp()
{
    QFETCH(bool, quitButton);
    QFETCH(int, atLookUp);
    window = std::make_unique<MainWindow>(settings, *net, slow, sink);
    QVERIFY(showWindow());
    settings.optResolveNames = true;
    slow.actAt = atLookUp;
    slow.act = [&] {
        QObject *target = quitButton ? static_cast<QObject *>(button("Command2")) : window.get();
        QMetaObject::invokeMethod(target, quitButton ? "click" : "close", Qt::QueuedConnection);
    };
    combo()->setEditText(QStringLiteral("192.0.2.1"));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);

    QCOMPARE(slow.lookups, atLookUp);
    QCOMPARE(slow.abandoned, 1);
    QCOMPARE(net->requestCount(), size_t(atLookUp - 1)); // hop 1's probe came before its look-up
    QVERIFY(!window->isVisible());
    QVERIFY(!window->engine().tracing);
    QCOMPARE(net->handlesOpen(), 0);
    QVERIFY(sink.messages.isEmpty());
}

QTEST_MAIN(MainWindowQuitTest)
#include "MainWindowQuitTest.moc"
