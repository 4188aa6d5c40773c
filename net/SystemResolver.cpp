#include "net/SystemResolver.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <utility>
#include <vector>

#include "net/Sockets.h"
#include "net/ValidText.h"

namespace {

// Digits and dots that make no address ("999.1.1.1", "1.2.3.4.5") are a
// mistyped address: no top-level domain is all digits, so no name server is asked.
bool malformedAddress(const std::string &host)
{
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// The first address of this family getaddrinfo gives, as ping traces it:
// glibc sorts a host's addresses by the rules of RFC 6724, tuned by /etc/gai.conf.
std::optional<IpAddress> lookUpName(const std::string &host, int family)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_RAW;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
        return std::nullopt;
    std::optional<IpAddress> address;
    if (list->ai_family == family)
        address = IpAddress::fromSockaddr(
            {reinterpret_cast<const uint8_t *>(list->ai_addr), list->ai_addrlen});
    freeaddrinfo(list);
    return address;
}

// A name with an IPv4 address is traced over IPv4, as it always was; only a
// name without one goes on to its IPv6 addresses, unless one family is asked for.
std::optional<IpAddress> lookUpName(const std::string &host, AddressFamily family)
{
    if (family == AddressFamily::ipv6)
        return lookUpName(host, AF_INET6);
    if (auto address = lookUpName(host, AF_INET))
        return address;
    if (family == AddressFamily::ipv4)
        return std::nullopt;
    return lookUpName(host, AF_INET6);
}

// An IPv6 address is typed with colons; a name or an IPv4 address never has one.
bool typedIpv6(const std::string &host)
{
    return host.find(':') != std::string::npos || (!host.empty() && host.front() == '[');
}

// gethostbyaddr_r gives the official name (h_name); its buffer grows until the
// record fits, so a name of any length comes back whole.
std::string lookUpAddress(const IpAddress &address)
{
    const int family = address.isIpv6() ? AF_INET6 : AF_INET;
    const socklen_t length = address.isIpv6() ? 16 : 4;
    constexpr size_t largestBuffer = 1 << 20;
    std::vector<char> buffer(1024);
    for (;;) {
        hostent entry{};
        hostent *result = nullptr;
        int error = 0;
        const int status = gethostbyaddr_r(address.ipv6().data(), length, family, &entry,
                                           buffer.data(), buffer.size(), &result, &error);
        if (status == ERANGE && buffer.size() < largestBuffer) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0 || !result || !result->h_name)
            return {};
        return result->h_name;
    }
}

} // namespace

// One address's reverse look-up, shared by its worker and whoever waits for it.
struct SystemResolver::Reverse {
    std::shared_ptr<const BoundedLookup::Job> job;
    std::string name;
    bool finished = false;
    bool abandoned = false; // a wait gave up on it: its name, if any, comes late
};

struct SystemResolver::Names {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Reverse>> inFlight; // by address text
    std::vector<LateName> late;
    // Whether late holds any: the trace asks before every probe, and a lock
    // taken tens of thousands of times a second for nothing is not free.
    std::atomic<bool> anyLate = false;
    // The hook has a lock of its own, held while it is called and while it is
    // replaced: it runs without the names' lock (it may take the late names at
    // once), and once a window has cleared it no call to the old one is left.
    std::mutex hookMutex;
    LateNameHook hook;

    // On the worker, as its look-up ends.
    void finish(const std::shared_ptr<Reverse> &reverse, const IpAddress &address, std::string name)
    {
        if (!store(reverse, address, std::move(name)))
            return;
        std::lock_guard lock(hookMutex);
        if (hook)
            hook();
    }

    // True when the name came late and waits to be taken.
    bool store(const std::shared_ptr<Reverse> &reverse, const IpAddress &address, std::string name)
    {
        std::lock_guard lock(mutex);
        reverse->name = std::move(name);
        reverse->finished = true;
        if (const auto it = inFlight.find(address.text());
            it != inFlight.end() && it->second == reverse)
            inFlight.erase(it);
        if (!reverse->abandoned || reverse->name.empty())
            return false;
        late.push_back({address, reverse->name});
        anyLate.store(true, std::memory_order_release);
        return true;
    }
};

SystemResolver::SystemResolver() : names_(std::make_shared<Names>()) {}

// A literal address is read here, by the parser inet_addr uses, so the dotted
// text given back parses to the same address again; only names go to the resolver.
// A typed IPv6 address is read here too and asks no name server; a malformed
// one ("1:2:3:4:5:6:7:8:9", a zone that names no interface) finds nothing.
std::optional<IpAddress> SystemResolver::firstAddress(const std::string &host)
{
    if (const auto address = literalAddress(host))
        return IpAddress::fromIpv4(*address);
    if (typedIpv6(host))
        return IpAddress::parse(host);
    if (host.empty() || malformedAddress(host) || host.find('\0') != std::string::npos)
        return std::nullopt;
    forwardAbandoned_ = false;
    auto found = std::make_shared<std::optional<IpAddress>>();
    const auto forever = BoundedLookup::Clock::time_point::max();
    const auto job = lookups_.start(
        [host, found, family = family_] { *found = lookUpName(host, family); }, forever);
    if (!job || !lookups_.wait(job, forever, [this] { return !forwardAbandoned_; }))
        return std::nullopt;
    return *found;
}

std::string SystemResolver::officialName(const IpAddress &address)
{
    const auto end = BoundedLookup::Clock::now() + reverseDeadline;
    const std::shared_ptr<Reverse> reverse = reverseFor(address, end);
    if (!reverse)
        return {};
    lookups_.wait(reverse->job, end);
    std::lock_guard lock(names_->mutex);
    if (reverse->finished)
        return reverse->name;
    reverse->abandoned = true;
    return {};
}

// The look-up of the address in flight, or a new one; null when none can start.
std::shared_ptr<SystemResolver::Reverse>
SystemResolver::reverseFor(const IpAddress &address, BoundedLookup::Clock::time_point end)
{
    auto reverse = std::make_shared<Reverse>();
    {
        std::lock_guard lock(names_->mutex);
        const auto [it, added] = names_->inFlight.emplace(address.text(), reverse);
        if (!added)
            return it->second->job ? it->second : nullptr;
    }
    reverse->job = lookups_.start(
        [names = names_, reverse, address] {
            std::string name;
            try {
                name = validText(lookUpAddress(address));
            } catch (...) {
                // found nothing; the entry must still leave the flight list
            }
            names->finish(reverse, address, std::move(name));
        },
        end);
    if (!reverse->job) {
        std::lock_guard lock(names_->mutex);
        names_->inFlight.erase(address.text());
    }
    return reverse->job ? reverse : nullptr;
}

std::vector<Resolver::LateName> SystemResolver::takeLateNames()
{
    if (!names_->anyLate.load(std::memory_order_acquire))
        return {};
    std::lock_guard lock(names_->mutex);
    names_->anyLate.store(false, std::memory_order_relaxed);
    return std::exchange(names_->late, {});
}

void SystemResolver::setLateNameHook(LateNameHook hook)
{
    std::lock_guard lock(names_->hookMutex);
    names_->hook = std::move(hook);
}
