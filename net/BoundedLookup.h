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

    // The completion of one task; any number of waits may share it.
    struct Job;
    // Returning false ends a wait at once (the user stopped what waits).
    using KeepWaiting = std::function<bool()>;

    // The result of work, or nothing when the deadline passed first, the idle
    // hook or keepWaiting gave up, no thread could be started, or work threw.
    template <typename T>
    std::optional<T> run(std::function<T()> work, std::chrono::milliseconds deadline,
                         const KeepWaiting &keepWaiting = {})
    {
        auto result = std::make_shared<std::optional<T>>();
        const Clock::time_point end = Clock::now() + deadline;
        const auto job = start([work = std::move(work), result] { *result = work(); }, end);
        if (!job || !wait(job, end, keepWaiting))
            return std::nullopt;
        return std::move(*result);
    }

    // Starts task on a worker, waiting until end for one to come free; null
    // when none did or no thread could be started.
    std::shared_ptr<const Job> start(std::function<void()> task, Clock::time_point end);
    // True once the job's task has returned; false when end came first or the
    // idle hook or keepWaiting gave up. The job runs on either way.
    bool wait(const std::shared_ptr<const Job> &job, Clock::time_point end,
              const KeepWaiting &keepWaiting = {});

    // Worker threads that have not finished yet, abandoned ones included.
    size_t busyWorkers() const;

private:
    struct Shared;

    bool claimWorker(Clock::time_point end);
    bool waitUntil(const std::function<bool()> &ready, Clock::time_point end,
                   const KeepWaiting &keepWaiting = {});

    std::shared_ptr<Shared> shared_;
    size_t maxWorkers_;
    IdleHook idle_;
};
