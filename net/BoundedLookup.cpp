#include "net/BoundedLookup.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// As often as the echo service calls its idle hook while it waits for a reply.
constexpr auto idleSlice = std::chrono::milliseconds(12);

} // namespace

// One look-up's completion flag, guarded by the shared mutex.
struct BoundedLookup::Job {
    bool done = false;
};

struct BoundedLookup::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    size_t busy = 0; // workers started and not yet finished
};

BoundedLookup::BoundedLookup(size_t maxWorkers)
    : shared_(std::make_shared<Shared>()), maxWorkers_(maxWorkers)
{
}

size_t BoundedLookup::busyWorkers() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->busy;
}

std::shared_ptr<const BoundedLookup::Job> BoundedLookup::start(std::function<void()> task,
                                                                Clock::time_point end)
{
    if (!claimWorker(end))
        return nullptr;
    auto job = std::make_shared<Job>();
    try {
        // The thread holds its own references: nothing it touches can go away under it.
        std::thread([shared = shared_, job, task = std::move(task)] {
            try {
                task();
            } catch (...) {
                // A look-up that throws found nothing; the thread must not end the program.
            }
            std::lock_guard lock(shared->mutex);
            job->done = true;
            --shared->busy;
            shared->changed.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        std::lock_guard lock(shared_->mutex);
        --shared_->busy;
        return nullptr;
    }
    return job;
}

bool BoundedLookup::wait(const std::shared_ptr<const Job> &job, Clock::time_point end,
                         const KeepWaiting &keepWaiting)
{
    return waitUntil([&job] { return job->done; }, end, keepWaiting);
}

// Takes one of the maxWorkers places, waiting for one to come free.
bool BoundedLookup::claimWorker(Clock::time_point end)
{
    Shared &shared = *shared_;
    // The predicate claims the place while the lock is held, so a look-up
    // started from inside the idle hook cannot take the same place.
    return waitUntil(
        [&shared, this] {
            if (shared.busy >= maxWorkers_)
                return false;
            ++shared.busy;
            return true;
        },
        end);
}

// Waits until ready() (called with the lock held) or the deadline, calling
// the idle hook between slices without the lock, so the hook may do anything.
bool BoundedLookup::waitUntil(const std::function<bool()> &ready, Clock::time_point end,
                              const KeepWaiting &keepWaiting)
{
    for (;;) {
        {
            std::unique_lock lock(shared_->mutex);
            const bool sliced = idle_ || keepWaiting;
            const Clock::time_point until = sliced ? std::min(end, Clock::now() + idleSlice) : end;
            if (shared_->changed.wait_until(lock, until, ready))
                return true;
        }
        if (Clock::now() >= end)
            return false;
        if (idle_ && !idle_())
            return false;
        if (keepWaiting && !keepWaiting())
            return false;
    }
}
