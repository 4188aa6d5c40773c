#include "net/BoundedLookup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Holds look-ups until released, like a name server that does not answer.
class Gate {
public:
    void wait()
    {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }
    void open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// Waits (bounded) until a condition set by another thread holds.
template <typename F> bool eventually(F condition)
{
    const auto end = Clock::now() + 5s;
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(BoundedLookup, ResultInTimeWithTheIdleHookRunningMeanwhile)
{
    BoundedLookup lookups;
    int idleCalls = 0;
    lookups.setIdleHook([&] {
        ++idleCalls;
        return true;
    });
    const auto result = lookups.run<std::string>(
        [] {
            std::this_thread::sleep_for(80ms);
            return std::string("router.example");
        },
        2000ms);
    EXPECT_EQ(result, "router.example");
    EXPECT_GE(idleCalls, 3);
    EXPECT_TRUE(eventually([&] { return lookups.busyWorkers() == 0; }));
}

// The look-up gives up at its deadline; the worker finishes later on its own
// and touches nothing of the caller's, which is gone by then (ASan watches).
TEST(BoundedLookup, DeadlineAbandonsTheLookUpSafely)
{
    Gate gate;
    auto token = std::make_shared<int>(0);
    const std::weak_ptr<int> workerState = token;
    {
        BoundedLookup lookups;
        const auto start = Clock::now();
        const auto result = lookups.run<std::string>(
            [&gate, token] {
                gate.wait();
                return std::string(4000, 'n');
            },
            150ms);
        const long long took = msSince(start);
        EXPECT_FALSE(result);
        EXPECT_GE(took, 150);
        EXPECT_LT(took, 1000);
        EXPECT_EQ(lookups.busyWorkers(), 1u);
    }
    token.reset();
    gate.open();
    EXPECT_TRUE(eventually([&] { return workerState.expired(); }));
}

TEST(BoundedLookup, IdleHookGivingUpEndsTheWaitAtOnce)
{
    Gate gate;
    BoundedLookup lookups;
    int idleCalls = 0;
    lookups.setIdleHook([&] { return ++idleCalls < 2; });
    const auto start = Clock::now();
    const auto result = lookups.run<int>(
        [&gate] {
            gate.wait();
            return 1;
        },
        10000ms);
    EXPECT_FALSE(result);
    EXPECT_EQ(idleCalls, 2);
    EXPECT_LT(msSince(start), 1000);
    gate.open();
    EXPECT_TRUE(eventually([&] { return lookups.busyWorkers() == 0; }));
}

// Abandoned look-ups keep their threads until they finish; beyond the limit a
// look-up does not start at all, and runs again once a thread is free.
TEST(BoundedLookup, StuckWorkersAreLimited)
{
    Gate gate;
    BoundedLookup lookups(2);
    const auto stuck = [&gate] {
        gate.wait();
        return 0;
    };
    EXPECT_FALSE(lookups.run<int>(stuck, 20ms));
    EXPECT_FALSE(lookups.run<int>(stuck, 20ms));
    std::atomic<bool> ran = false;
    const auto quick = [&ran] {
        ran = true;
        return 7;
    };
    const auto start = Clock::now();
    EXPECT_FALSE(lookups.run<int>(quick, 100ms));
    EXPECT_GE(msSince(start), 100);
    EXPECT_FALSE(ran);
    EXPECT_EQ(lookups.busyWorkers(), 2u);

    gate.open();
    EXPECT_EQ(lookups.run<int>(quick, 2000ms), 7);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(eventually([&] { return lookups.busyWorkers() == 0; }));
}

TEST(BoundedLookup, WorkThatThrowsFindsNothing)
{
    BoundedLookup lookups;
    const auto result =
        lookups.run<std::string>([]() -> std::string { throw std::runtime_error("x"); }, 1000ms);
    EXPECT_FALSE(result);
    EXPECT_TRUE(eventually([&] { return lookups.busyWorkers() == 0; }));
}

} // namespace
