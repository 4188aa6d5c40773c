#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

// Runs a blocking look-up on a worker thread and waits for it until a
// deadline, calling an idle hook about every 12 ms meanwhile so the window
// keeps processing its events. A look-up that misses its deadline is
// abandoned, not cancelled (the C library offers no way to cancel one): its
// thread finishes on its own and drops the result. It shares nothing with the
// caller but reference-counted state, so the caller, and this object, may be
// gone by then. At most maxWorkers threads run at once, so a resolver that
// never answers cannot pile them up; a look-up that finds none free within
// its deadline does not run at all.
class BoundedLookup {
public:
    using Clock = std::chrono::steady_clock;
    // Returning false abandons the wait at once (the window is closing).
    using IdleHook = std::function<bool()>;

    explicit BoundedLookup(size_t maxWorkers = 4);

    void setIdleHook(IdleHook hook) { idle_ = std::move(hook); }

    // The result of work, or nothing when the deadline passed first, the idle
    // hook gave up, no thread could be started, or work threw.
    template <typename T>
    std::optional<T> run(std::function<T()> work, std::chrono::milliseconds deadline)
    {
        auto result = std::make_shared<std::optional<T>>();
        if (!runTask([work = std::move(work), result] { *result = work(); }, deadline))
            return std::nullopt;
        return std::move(*result);
    }

    // Worker threads that have not finished yet, abandoned ones included.
    size_t busyWorkers() const;

private:
    struct Shared;

    bool runTask(std::function<void()> task, std::chrono::milliseconds deadline);
    bool claimWorker(Clock::time_point end);
    bool waitUntil(const std::function<bool()> &ready, Clock::time_point end);

    std::shared_ptr<Shared> shared_;
    size_t maxWorkers_;
    IdleHook idle_;
};
