#include "net/IcmpEchoService.h"

#include "net/DatagramEchoHandle.h"
#include "net/RawEchoHandle.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

std::string programPath()
{
    std::string path(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return "<binary>";
    path.resize(static_cast<size_t>(length));
    return path;
}

std::string socketCall(const EchoFamily &family, const char *type)
{
    return std::string("socket(") + family.domainName + ", " + type + ", " + family.protocolName
         + "): ";
}

// EACCES from the datagram socket means the group is outside the range,
// even for root (the IPv4 sysctl admits ICMPv6 sockets too); EPERM from the
// raw socket means no CAP_NET_RAW.
std::string datagramPart(const EchoFamily &family, int error)
{
    std::string text = socketCall(family, "SOCK_DGRAM") + std::string(strerror(error));
    if (error == EACCES)
        text += " (net.ipv4.ping_group_range does not admit group " + std::to_string(getegid())
              + "; widen it with sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\")";
    return text;
}

std::string rawPart(const EchoFamily &family, int error)
{
    std::string text = socketCall(family, "SOCK_RAW") + std::string(strerror(error));
    if (error == EPERM || error == EACCES)
        text += " (no CAP_NET_RAW; grant it with sudo setcap cap_net_raw+ep " + programPath() + ")";
    return text;
}

std::string reasonFor(const EchoFamily &family, const EchoOpenFailure &failure)
{
    std::string reason;
    if (failure.datagramErrno != 0)
        reason = datagramPart(family, failure.datagramErrno);
    if (failure.rawErrno != 0)
        reason += (reason.empty() ? "" : "; ") + rawPart(family, failure.rawErrno);
    return "Cannot open an ICMP socket: " + reason;
}

// A handle whose socket goes back to the service's spare slot when it is closed.
class RecycledHandle : public EchoHandle {
public:
    RecycledHandle(std::unique_ptr<SocketEchoHandle> socket,
                   std::shared_ptr<std::unique_ptr<SocketEchoHandle>> spare)
        : socket_(std::move(socket)), spare_(std::move(spare))
    {
    }
    ~RecycledHandle() override
    {
        if (!*spare_)
            *spare_ = std::move(socket_);
    }
    RecycledHandle(const RecycledHandle &) = delete;
    RecycledHandle &operator=(const RecycledHandle &) = delete;

    uint32_t sendEcho(const IpAddress &destination, std::span<const uint8_t> payload,
                      const IpOptionInformation &options, IcmpEchoReply &reply,
                      uint32_t timeoutMs) override
    {
        return socket_->sendEcho(destination, payload, options, reply, timeoutMs);
    }

private:
    std::unique_ptr<SocketEchoHandle> socket_;
    std::shared_ptr<std::unique_ptr<SocketEchoHandle>> spare_;
};

// A handle on a socket that outlives it.
class BorrowedHandle : public EchoHandle {
public:
    explicit BorrowedHandle(EchoHandle &socket) : socket_(socket) {}

    uint32_t sendEcho(const IpAddress &destination, std::span<const uint8_t> payload,
                      const IpOptionInformation &options, IcmpEchoReply &reply,
                      uint32_t timeoutMs) override
    {
        return socket_.sendEcho(destination, payload, options, reply, timeoutMs);
    }

private:
    EchoHandle &socket_;
};

} // namespace

IcmpEchoService::IcmpEchoService(Backend backend, PrivilegedSockets privileged)
    : backend_(backend), hooks_(std::make_shared<SocketEchoHandle::Hooks>()),
      spare_(std::make_shared<std::unique_ptr<SocketEchoHandle>>())
{
    if (const auto raw = privileged.takeRawIcmp(); raw.fd >= 0)
        heldIpv4_ = std::make_unique<RawEchoHandle>(EchoFamily::of(IpAddress()), raw.fd, raw.id,
                                                    hooks_);
    if (const auto raw = privileged.takeRawIcmp6(); raw.fd >= 0)
        heldIpv6_ = std::make_unique<RawEchoHandle>(EchoFamily::of(IpAddress::fromIpv6({})),
                                                    raw.fd, raw.id, hooks_);
}

// A reused socket is one that has sent before: it throws away what its
// earlier requests left queued before its next send. Datagram sockets and the
// held raw sockets are reused; a raw socket opened here is fresh per handle.
std::unique_ptr<EchoHandle> IcmpEchoService::openHandle(const IpAddress &destination)
{
    const EchoFamily &family = EchoFamily::of(destination);
    const auto &held = family.isIpv6() ? heldIpv6_ : heldIpv4_;
    if (held && backend_ != Backend::datagram)
        return std::make_unique<BorrowedHandle>(*held);
    // A spare of the other family is of no use to this trace.
    if (*spare_ && &(*spare_)->family() != &family)
        spare_->reset();
    if (*spare_)
        return std::make_unique<RecycledHandle>(std::move(*spare_), spare_);
    EchoOpenFailure failure;
    if (backend_ != Backend::raw) {
        if (auto handle = DatagramEchoHandle::open(family, hooks_))
            return std::make_unique<RecycledHandle>(std::move(handle), spare_);
        failure.datagramErrno = errno;
    }
    if (backend_ != Backend::datagram) {
        if (auto handle = RawEchoHandle::open(family, hooks_))
            return handle;
        failure.rawErrno = errno;
    }
    failure.reason = reasonFor(family, failure);
    lastFailure_ = failure;
    return nullptr;
}

void IcmpEchoService::closeSpares()
{
    spare_->reset();
}

EchoOpenFailure IcmpEchoService::lastOpenFailure() const
{
    return lastFailure_;
}

void IcmpEchoService::setIdleHook(IdleHook hook)
{
    hooks_->idle = std::move(hook);
}

void IcmpEchoService::setLongWaitHook(std::function<void()> hook)
{
    hooks_->longWait = std::move(hook);
}

// Sleeps in the slices a request's wait polls in, so the window stays as live.
void IcmpEchoService::waitIdle(uint32_t ms, const std::function<bool()> &goOn)
{
    using Clock = SocketEchoHandle::Clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (auto now = Clock::now(); now < deadline && goOn(); now = Clock::now()) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(deadline - now, SocketEchoHandle::idleSlice));
        if (hooks_->idle && !hooks_->idle())
            return;
    }
}
