#pragma once

#include <chrono>
#include <memory>

#include "net/BoundedLookup.h"
#include "net/Resolver.h"

// Look-ups through the C library's resolver (hosts file, DNS, as nsswitch
// says), on worker threads while the window keeps processing its events.
// The forward look-up waits as long as the C library does (its own time-outs
// in resolv.conf end it) unless abandoned. A reverse look-up waits at most
// reverseDeadline, whatever resolv.conf sets; a name that comes after that is
// kept for takeLateNames(). Only one look-up per address runs at a time: a
// second one waits for the first one's answer.
class SystemResolver : public Resolver {
public:
    // A reverse look-up runs for every new address of a trace; it costs at
    // most what one lost probe costs at the default time-out.
    static constexpr std::chrono::milliseconds reverseDeadline{2'000};

    SystemResolver();

    std::optional<IpAddress> firstAddress(const std::string &host) override;
    // Which family a name's look-up gives (the shell's -4 and -6); a typed
    // address is read as it is, whatever its family.
    void setFamily(AddressFamily family) { family_ = family; }
    std::string officialName(const IpAddress &address) override;
    void setIdleHook(IdleHook hook) override { lookups_.setIdleHook(std::move(hook)); }
    void abandonForward() override { forwardAbandoned_ = true; }
    std::vector<LateName> takeLateNames() override;
    void setLateNameHook(LateNameHook hook) override;

private:
    struct Reverse;
    struct Names;

    std::shared_ptr<Reverse> reverseFor(const IpAddress &address,
                                        BoundedLookup::Clock::time_point end);

    BoundedLookup lookups_;
    std::shared_ptr<Names> names_; // shared with the workers, which may outlive this
    bool forwardAbandoned_ = false;
    AddressFamily family_ = AddressFamily::any;
};
