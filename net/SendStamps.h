#pragma once

#include "net/EchoService.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

// The kernel's stamps of one socket's sends (SOF_TIMESTAMPING_OPT_ID numbers
// them from 0), left queued on the socket's error queue and read in batches:
// reading each one as its reply comes costs a system call a probe. Replies
// that waited for one are settled from here.
class SendStamps {
public:
    using Clock = std::chrono::steady_clock;
    // Whenever this many sends or this much time passed since the first stamp
    // left unread, the queue is read: the error queue is charged to the
    // receive buffer, and a full one drops stamps without a word.
    static constexpr uint32_t batch = 64;
    static constexpr std::chrono::milliseconds batchAge{50};

    // reader reads the socket's error queue and records what it finds.
    explicit SendStamps(std::function<void()> reader) : reader_(std::move(reader)) {}

    void record(uint32_t key, std::chrono::nanoseconds at);
    // The keys start again from 0 (the socket renumbered its sends).
    void restart() { newest_.reset(); }
    // The socket is closing: whatever was not read by now never will be.
    void detach() { reader_ = nullptr; }
    // The stamp of send key; the queue is read first when the key is newer
    // than any stamp seen. None when the stamp was dropped or never made.
    std::optional<std::chrono::nanoseconds> find(uint32_t key);
    // The stamp of send key as far as it has been read.
    std::optional<std::chrono::nanoseconds> known(uint32_t key) const;

private:
    // More than a batch and a path MTU search between two reads.
    static constexpr size_t kept = 256;
    struct Entry {
        uint32_t key = 0;
        std::optional<std::chrono::nanoseconds> at;
    };
    std::array<Entry, kept> entries_{};
    std::optional<uint32_t> newest_;
    std::function<void()> reader_;
};

// Puts the kernel's send stamp, where it came, into the times of a reply
// that was left waiting for it (IcmpEchoReply::pendingStamp); a reply whose
// stamp never came keeps the time from the clock read before its send. The
// first of a batch reads the socket's queue, the others find their stamps read.
void settleSendStamp(IcmpEchoReply &reply);
