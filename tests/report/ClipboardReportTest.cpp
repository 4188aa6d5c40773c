#include <gtest/gtest.h>

#include "engine/TraceEngine.h"
#include "engine/NullWindowOps.h"
#include "net/EchoService.h"
#include "net/Resolver.h"
#include "report/Report.h"

namespace {

// The report only reads the engine's state; these never get called.
struct IdleEcho : EchoService {
    std::unique_ptr<EchoHandle> openHandle(const IpAddress &) override { return nullptr; }
    EchoOpenFailure lastOpenFailure() const override { return {}; }
    void setIdleHook(IdleHook) override {}
    void waitIdle(uint32_t, const std::function<bool()> &) override {}
};
struct IdleResolver : Resolver {
    std::optional<IpAddress> firstAddress(const std::string &) override { return {}; }
    std::string officialName(const IpAddress &) override { return {}; }
};

class ClipboardReport : public ::testing::Test {
protected:
    void SetUp() override {
        settings.setStartupValues();
        settings.optResolveNames = true;
        engine.results.addRow(" 1");
        engine.results.addRow(" 2");
        const char *hop1[] = {"192.0.2.1", "gw.example", "2", "2", "0", "1", "2", "3", "3", "", ""};
        const char *hop2[] = {"see Notes !!!", "", "2", "2", "0", "5", "6", "7", "7", "", ""};
        for (int k = 1; k <= 11; ++k) {
            engine.results.setCell(1, k, hop1[k - 1]);
            engine.results.setCell(2, k, hop2[k - 1]);
        }
        engine.maxhop = 2;
        logEntry(1, "192.0.2.1", "gw.example", "2");
        logEntry(2, "198.51.100.1", "", "1");
        logEntry(2, "198.51.100.2", "core.example", "1");
        engine.hopNoted[2] = true;
    }

    void logEntry(int16_t hop, const char *addr, const char *name, const char *count) {
        const auto j = static_cast<size_t>(++engine.dbIndex);
        engine.log.dbHop[j] = hop;
        engine.log.dbAddr[j] = addr;
        engine.log.dbName[j] = name;
        engine.log.dbCount[j] = count;
    }

    std::string copy() {
        return clipboardReport(engine, "target.example", "203.0.113.5", "target.example");
    }

    TraceSettings settings;
    IdleEcho echo;
    IdleResolver resolver;
    NullWindowOps window;
    TraceEngine engine{settings, echo, resolver, window};
};

const std::string expectedReport =
    "Tracing to : target.example\r\n"
    "IP address : 203.0.113.5\r\n"
    "Host name  : target.example\r\n"
    "\r\n"
    "Options\r\n"
    "Resolve names  : True\r\n"
    "Find MTU       : False\r\n"
    "Asymmetry/TTL  : Asymmmetry\r\n"
    "IP packet size : 100\r\n"
    "Timeout (sec)  : 2\r\n"
    "Max runs       : 20\r\n"
    "Max hops       : 30\r\n"
    "ToS            : 0\r\n"
    "MTU retries    : 3\r\n"
    "\r\n"
    "Hop IP address      Hostname     Sent  Recv  Loss% Best  Avg   Worst Last  MTU   Asym\r\n"
    "1   192.0.2.1       gw.example   2     2     0     1     2     3     3                 \r\n"
    "2   see Notes !!!                2     2     0     5     6     7     7                 \r\n"
    "\r\n"
    "Notes\r\n"
    "Hop : 2 / 198.51.100.1  = 1 / 198.51.100.2 core.example = 1\r\n";

TEST_F(ClipboardReport, ReadsRowsLogAndNotedHopsOfTheEngine) {
    EXPECT_EQ(copy(), expectedReport);
}

TEST_F(ClipboardReport, TwoCopiesInARowGiveTheSameText) {
    const std::string first = copy();
    EXPECT_EQ(copy(), first);
}

TEST_F(ClipboardReport, NotesComeFromTheLogNotTheNotesBox) {
    engine.results.setNotes("stale text\r\n");
    EXPECT_EQ(copy(), expectedReport);
}

TEST_F(ClipboardReport, CountsBeyondWhatExistsAreNotRead) {
    engine.maxhop = 5;                          // only two rows exist
    engine.dbIndex = AddressLog::capacity + 10; // beyond the log
    const std::string text = copy();
    EXPECT_NE(text.find("\r\n2   see Notes"), std::string::npos);
    EXPECT_EQ(text.find("\r\n3   "), std::string::npos);

    engine.maxhop = -1;
    engine.dbIndex = -1;
    const std::string empty = copy();
    EXPECT_NE(empty.find("Hostname Sent"), std::string::npos);
    EXPECT_TRUE(empty.ends_with("\r\nNotes\r\nHop : 2\r\n"));
}

} // namespace
