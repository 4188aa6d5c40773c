#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/TraceEngine.h"
#include "tests/fakes/FakeNetwork.h"
#include "tests/fakes/FakeWindowOps.h"

// Sub-items of a result row, by position.
enum Col { Hop, Addr, Host, Sent, Recv, Loss, Best, Avg, Worst, Last, Mtu, Asym };

inline const std::string target = "192.0.2.1";

// An engine wired to a scripted network and window. The path has routers
// 10.0.0.<ttl> and the target 192.0.2.1 at the hop given to path().
class EngineTest : public ::testing::Test {
protected:
    EngineTest()
    {
        settings.setStartupValues();
        settings.optMaxRuns = 1;
        ops.setCombo1Text(target);
    }

    FakeHop &router(int ttl) { return net.hop(ttl) = FakeHop{{"10.0.0." + std::to_string(ttl)}}; }
    void path(int targetHop)
    {
        for (int ttl = 1; ttl < targetHop; ++ttl)
            router(ttl);
        net.hop(targetHop) = FakeHop{{target}};
        net.hop(targetHop).status = IpStatus::success;
    }
    void trace() { engine.command1Click(); }
    void pressStop() { engine.command1Click(); }
    std::string cell(int row, Col col) const { return engine.results.cell(row, col); }
    std::vector<std::string> cells(int row, Col from, Col to) const
    {
        std::vector<std::string> out;
        for (int c = from; c <= to; ++c)
            out.push_back(engine.results.cell(row, c));
        return out;
    }
    // The hop's history adds up to its row: probes and replies, and Best,
    // Worst and Last are what its precise figures truncate to.
    void expectFiguresMatchRow(int hop) const
    {
        const RttStatistics s = engine.details().statistics(static_cast<int16_t>(hop));
        const auto whole = [](double ms) { return std::to_string(static_cast<int64_t>(ms)); };
        EXPECT_EQ(std::to_string(s.probes), cell(hop, Sent)) << "hop " << hop;
        EXPECT_EQ(std::to_string(s.replies), cell(hop, Recv)) << "hop " << hop;
        // a worst of 0 reads "---" after a time-out
        const std::string worst = cell(hop, Worst) == "---" ? "---" : whole(s.worst);
        EXPECT_EQ(s.replies > 0 ? whole(s.best) : "---", cell(hop, Best)) << "hop " << hop;
        EXPECT_EQ(s.replies > 0 ? worst : "---", cell(hop, Worst)) << "hop " << hop;
        EXPECT_EQ(s.last ? whole(*s.last) : "---", cell(hop, Last)) << "hop " << hop;
    }
    std::vector<int> mainTtls() const
    {
        std::vector<int> out;
        for (const EchoRequest &r : net.mainRequests())
            out.push_back(r.ttl);
        return out;
    }

    TraceSettings settings;
    FakeNetwork net;
    FakeWindowOps ops;
    TraceEngine engine{settings, net, net, ops};
};
