#include "tests/fakes/FakeNetwork.h"

#include <arpa/inet.h>


#include "net/Sockets.h"
#include "tests/fakes/FakeAddress.h"

namespace {

template <typename T> T inTurn(const std::vector<T> &values, size_t i, T fallback)
{
    if (values.empty())
        return fallback;
    return values[std::min(i, values.size() - 1)];
}

bool answeredInTurn(const std::string &pattern, size_t i)
{
    if (pattern.empty())
        return true;
    return pattern[std::min(i, pattern.size() - 1)] == '+';
}

IcmpEchoReply timedOut()
{
    return IcmpEchoReply{}; // count 0, status reqTimedOut
}

} // namespace

std::string EchoRequest::destinationText() const { return destination.text(); }

class FakeNetwork::Handle : public EchoHandle {
public:
    explicit Handle(FakeNetwork &net) : net_(net) { ++net_.open_; }
    ~Handle() override { --net_.open_; }
    uint32_t sendEcho(const IpAddress &destination, std::span<const uint8_t> payload,
                      const IpOptionInformation &options, IcmpEchoReply &reply,
                      uint32_t timeoutMs) override
    {
        EchoRequest r;
        r.destination = destination;
        r.ttl = options.ttl;
        r.tos = options.tos;
        r.flags = options.flags;
        r.payloadSize = payload.size();
        if (net_.recordPayloads_)
            r.payload.assign(payload.begin(), payload.end());
        r.timeoutMs = timeoutMs;
        return net_.send(r, reply);
    }

private:
    FakeNetwork &net_;
};

std::unique_ptr<EchoHandle> FakeNetwork::openHandle(const IpAddress &)
{
    ++opened_;
    if (failFrom_ > 0 && opened_ >= failFrom_)
        return nullptr;
    return std::make_unique<Handle>(*this);
}

void FakeNetwork::failOpensFrom(int n, std::string reason)
{
    failFrom_ = n;
    openFailure_.reason = std::move(reason);
}

void FakeNetwork::onRequest(std::function<void(const EchoRequest &, size_t)> action)
{
    onRequest_ = std::move(action);
}

void FakeNetwork::setResponder(
    std::function<std::optional<IcmpEchoReply>(const EchoRequest &)> responder)
{
    responder_ = std::move(responder);
}

uint32_t FakeNetwork::send(const EchoRequest &request, IcmpEchoReply &reply)
{
    ++requestCount_;
    if (recording_)
        requests_.push_back(request);
    if (onRequest_)
        onRequest_(request, requestCount_);
    std::optional<IcmpEchoReply> scripted;
    if (responder_)
        scripted = responder_(request);
    if (!waitIdle())
        reply = timedOut();
    else if (scripted)
        reply = *scripted;
    else
        reply = request.dontFragment() ? answerMtu(request) : answerMain(request);
    if (lateStamps_ && !request.dontFragment()) {
        if (reply.replyCount == 0 && longWaitHook_)
            longWaitHook_();
        else if (reply.roundTripUs)
            leaveStampWaiting(reply);
    }
    return reply.replyCount;
}

// Send key is stamped key ms after the clock's start, 7 us after the clock
// read before it.
void FakeNetwork::leaveStampWaiting(IcmpEchoReply &reply)
{
    using namespace std::chrono_literals;
    if (!stamps_)
        stamps_ = std::make_shared<SendStamps>([this] {
            ++stampReads_;
            for (; stampsRead_ < stampKey_; ++stampsRead_)
                stamps_->record(stampsRead_, stampsRead_ * 1ms + 1s + 7us);
        });
    const uint32_t key = stampKey_++;
    const std::chrono::nanoseconds sentReal = key * 1ms + 1s;
    const uint32_t us = *reply.roundTripUs;
    reply.pendingStamp = PendingSendStamp{stamps_, key, sentReal, sentReal + 7us + us * 1us, 30s};
    reply.roundTripUs = us + 7;
    reply.roundTripTime = (us + 7) / 1000;
}

void FakeNetwork::waitIdle(uint32_t ms, const std::function<bool()> &goOn)
{
    waits_.push_back(ms);
    for (int i = 0; i < idleCalls_ && goOn(); ++i) {
        if (idleHook_ && !idleHook_())
            return;
    }
}

// False when the idle hook abandons the wait.
bool FakeNetwork::waitIdle()
{
    for (int i = 0; i < idleCalls_; ++i) {
        if (idleHook_ && !idleHook_())
            return false;
    }
    return true;
}

IcmpEchoReply FakeNetwork::answerMain(const EchoRequest &request)
{
    const auto it = hops_.find(request.ttl);
    if (it == hops_.end())
        return timedOut();
    const FakeHop &hop = it->second;
    HopState &st = state_[request.ttl];
    const size_t probe = st.mainProbes++;
    if (hop.addresses.empty() || !answeredInTurn(hop.answers, probe))
        return timedOut();
    const size_t answer = st.mainAnswers++;
    IcmpEchoReply reply;
    reply.replyCount = 1;
    reply.address = textToAddress(inTurn(hop.addresses, answer, std::string())).value_or(IpAddress());
    reply.status = hop.status;
    reply.roundTripTime = inTurn(hop.rtts, answer, 0u);
    reply.roundTripUs = inTurn(hop.rttUs, answer, reply.roundTripTime * 1000);
    if (reply.roundTripUs == FakeHop::unstamped)
        reply.roundTripUs.reset();
    else
        reply.roundTripTime = *reply.roundTripUs / 1000;
    reply.ttl = inTurn(hop.replyTtls, 0, uint8_t{64});
    return reply;
}

IcmpEchoReply FakeNetwork::answerMtu(const EchoRequest &request)
{
    const int ttl = hopOf(request.destinationText());
    if (ttl == 0)
        return timedOut();
    const FakeHop &hop = hops_.at(ttl);
    HopState &st = state_[ttl];
    IcmpEchoReply reply;
    reply.address = request.destination;
    if (static_cast<int>(request.payloadSize) + request.destination.headerBytes() > hop.mtu) {
        if (hop.silentDrop)
            return timedOut();
        reply.replyCount = 1;
        reply.status = IpStatus::packetTooBig;
        return reply;
    }
    if (!answeredInTurn(hop.mtuAnswers, st.mtuFits++))
        return timedOut();
    reply.replyCount = 1;
    reply.status = IpStatus::success;
    reply.ttl = inTurn(hop.replyTtls, st.mtuAnswers++, uint8_t{64});
    return reply;
}

int FakeNetwork::hopOf(const std::string &dotted) const
{
    for (const auto &[ttl, hop] : hops_) {
        for (const std::string &a : hop.addresses) {
            if (a == dotted)
                return ttl;
        }
    }
    return 0;
}

std::vector<EchoRequest> FakeNetwork::mainRequests() const
{
    std::vector<EchoRequest> out;
    for (const EchoRequest &r : requests_) {
        if (!r.dontFragment())
            out.push_back(r);
    }
    return out;
}

std::vector<EchoRequest> FakeNetwork::mtuRequests() const
{
    std::vector<EchoRequest> out;
    for (const EchoRequest &r : requests_) {
        if (r.dontFragment())
            out.push_back(r);
    }
    return out;
}

void FakeNetwork::addHost(const std::string &host, const std::string &dotted)
{
    hosts_[host] = dotted;
}

void FakeNetwork::addName(const std::string &dotted, const std::string &name)
{
    names_[dotted] = name;
}

void FakeNetwork::onReverseLookup(std::function<void(const std::string &)> action)
{
    onReverse_ = std::move(action);
}

void FakeNetwork::addLateName(const std::string &dotted, const std::string &name)
{
    lateNames_[dotted] = name;
}

void FakeNetwork::arriveLate()
{
    for (const IpAddress &address : std::exchange(askedLate_, {}))
        late_.push_back({address, lateNames_[address.text()]});
    if (lateHook_)
        lateHook_();
}

// A scripted host may have an IPv6 address; other texts are read as the
// system resolver reads a typed address.
std::optional<IpAddress> FakeNetwork::firstAddress(const std::string &host)
{
    forwardLookups_.push_back(host);
    forwardAbandoned_ = false;
    for (int i = 0; i < forwardIdleCalls_; ++i) {
        if ((idleHook_ && !idleHook_()) || forwardAbandoned_)
            return std::nullopt;
    }
    const auto it = hosts_.find(host);
    const std::string text = it == hosts_.end() ? host : it->second;
    if (text.find(':') != std::string::npos)
        return IpAddress::parse(text);
    const auto address = literalAddress(text);
    if (!address)
        return std::nullopt;
    return IpAddress::fromIpv4(*address);
}

std::string FakeNetwork::officialName(const IpAddress &address)
{
    const std::string dotted = address.text();
    reverseLookups_.push_back(dotted);
    if (onReverse_)
        onReverse_(dotted);
    if (lateNames_.count(dotted)) {
        askedLate_.push_back(address);
        return {};
    }
    const auto it = names_.find(dotted);
    return it == names_.end() ? std::string() : it->second;
}
