// Fuzz target for the datagram backend: any bytes as the data, msg_name and
// msg_control of one recvmsg (layout in FuzzInput.h), read both as a plain
// reply and as an error-queue entry. Besides memory errors (each part sits in
// a heap block of its own size) it checks that a reply matches only an echo
// reply of our sequence and an error only a quote of our request to our
// destination, and that statuses are known codes.
#include "fuzz/FuzzInput.h"
#include "net/ControlMessages.h"
#include "net/DatagramPacket.h"

using namespace FuzzInput;

namespace {

bool isOurReply(std::span<const uint8_t> icmp)
{
    return icmp.size() >= 8 && icmp[0] == 0 && icmp[1] == 0 && read16(icmp, 6) == sequence;
}

bool isOurRequest(std::span<const uint8_t> icmp)
{
    return icmp.size() >= 8 && icmp[0] == 8 && icmp[1] == 0 && read16(icmp, 6) == sequence;
}

// The address of a sockaddr_in in msg_name, or 0 when there is none.
uint32_t nameAddress(std::span<const uint8_t> name)
{
    return name.size() >= 8 ? readAddress(name, 4) : 0;
}

void checkReply(const DatagramPacket::Received &received)
{
    const auto answer = DatagramPacket::parseReply(received, sequence);
    FUZZ_CHECK(answer.has_value() == isOurReply(received.data));
    if (!answer)
        return;
    FUZZ_CHECK(answer->status == IpStatus::success);
    FUZZ_CHECK(answer->nextHopMtu == 0);
    FUZZ_CHECK(answer->source == IpAddress()
               || answer->source == IpAddress::fromIpv4(nameAddress(received.name)));
}

void checkError(const DatagramPacket::Received &received)
{
    const auto answer = DatagramPacket::parseErrorQueueEntry(received, destination(), sequence);
    // A send stamp's entry is never an answer.
    FUZZ_CHECK(!answer || !ControlMessages::sendStamp(ControlMessages::read(received.control)));
    if (!answer)
        return;
    FUZZ_CHECK(isOurRequest(received.data));
    FUZZ_CHECK(nameAddress(received.name) == destination());
    FUZZ_CHECK(isKnownStatus(answer->status));
    FUZZ_CHECK(answer->status != IpStatus::success);
    FUZZ_CHECK(answer->nextHopMtu == 0 || answer->status == IpStatus::packetTooBig);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto parts = splitDatagram({data, size});
    const ExactCopy name(parts.name), control(parts.control), icmp(parts.data);
    const DatagramPacket::Received received{icmp.span(), name.span(), control.span()};
    checkReply(received);
    checkError(received);
    return 0;
}
