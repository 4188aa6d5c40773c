// Fuzz target for the ICMPv6 parsers: any bytes as the data, msg_name and
// msg_control of one recvmsg (layout in FuzzInput.h), read as a datagram
// socket's reply, as its error-queue entry and as a raw socket's message.
// Besides memory errors it checks that only an answer to our request to our
// destination matches and that statuses are known codes.
#include "fuzz/FuzzInput.h"
#include "net/Icmp6Packet.h"

#include <algorithm>

using namespace FuzzInput;

namespace {

IpAddress destination6()
{
    IpAddress::Ipv6Bytes bytes;
    std::copy(std::begin(destination6Bytes), std::end(destination6Bytes), bytes.begin());
    return IpAddress::fromIpv6(bytes);
}

bool isEcho(std::span<const uint8_t> icmp, uint8_t type)
{
    return icmp.size() >= 8 && icmp[0] == type && icmp[1] == 0 && read16(icmp, 6) == sequence;
}

// msg_name holds a sockaddr_in6 (family, port, flow info, then the address).
bool namesDestination(std::span<const uint8_t> name)
{
    return name.size() >= 24 && std::equal(name.begin() + 8, name.begin() + 24, destination6Bytes);
}

void checkAnswer(const Icmp6Packet::Answer &answer)
{
    FUZZ_CHECK(isKnownStatus(answer.status));
    FUZZ_CHECK(answer.nextHopMtu == 0 || answer.status == IpStatus::packetTooBig);
    FUZZ_CHECK(answer.source == IpAddress() || answer.source.isIpv6());
}

void checkDatagram(const DatagramPacket::Received &received)
{
    const auto reply = Icmp6Packet::parseDatagramReply(received, sequence);
    FUZZ_CHECK(reply.has_value() == isEcho(received.data, Icmp6Packet::typeEchoReply));
    if (reply) {
        checkAnswer(*reply);
        FUZZ_CHECK(reply->status == IpStatus::success);
    }
    const auto error = Icmp6Packet::parseErrorQueueEntry(received, destination6(), sequence);
    if (error) {
        checkAnswer(*error);
        FUZZ_CHECK(isEcho(received.data, Icmp6Packet::typeEchoRequest));
        FUZZ_CHECK(namesDestination(received.name));
        FUZZ_CHECK(error->status != IpStatus::success);
    }
}

void checkRaw(const DatagramPacket::Received &received)
{
    const auto answer = Icmp6Packet::parseRawMessage(received, destination6(), id, sequence);
    if (!answer)
        return;
    checkAnswer(*answer);
    const auto icmp = received.data;
    if (icmp[0] == Icmp6Packet::typeEchoReply) {
        FUZZ_CHECK(isEcho(icmp, Icmp6Packet::typeEchoReply) && read16(icmp, 4) == id);
        return;
    }
    // An error quotes at least an IPv6 header to our destination and our echo header.
    FUZZ_CHECK(Icmp6Packet::isErrorType(icmp[0]));
    FUZZ_CHECK(icmp.size() >= 8 + 40 + 8);
    FUZZ_CHECK(std::equal(icmp.begin() + 8 + 24, icmp.begin() + 8 + 40, destination6Bytes));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto parts = splitDatagram({data, size});
    const ExactCopy name(parts.name), control(parts.control), icmp(parts.data);
    const DatagramPacket::Received received{icmp.span(), name.span(), control.span()};
    checkDatagram(received);
    checkRaw(received);
    return 0;
}
