// Fuzz target for the raw backend: any bytes as a packet read from a raw ICMP
// socket. Besides memory errors it checks that an answer is reported exactly
// when the packet is an echo reply with our id and sequence, or an ICMP error
// whose quote is our request (protocol 1, our destination, type 8, our id and
// sequence), and that the answer's fields come from the packet.
#include "fuzz/FuzzInput.h"
#include "net/IcmpPacket.h"

using namespace FuzzInput;

namespace {

// Length of a sound IPv4 header at the start, or 0.
size_t headerLength(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 20 || bytes[0] >> 4 != 4)
        return 0;
    const size_t length = (bytes[0] & 0x0fu) * 4u;
    return length >= 20 && length <= bytes.size() ? length : 0;
}

bool quotesOurRequest(std::span<const uint8_t> quote)
{
    const size_t length = headerLength(quote);
    if (length == 0 || quote[9] != 1 || readAddress(quote, 16) != destination())
        return false;
    const auto echo = quote.subspan(length);
    return echo.size() >= 8 && echo[0] == 8 && echo[1] == 0 && read16(echo, 4) == id
           && read16(echo, 6) == sequence;
}

// The ICMP message inside the packet, if the packet is ICMP over IPv4 with a
// total length that fits.
std::span<const uint8_t> icmpOf(std::span<const uint8_t> packet)
{
    const size_t length = headerLength(packet);
    if (length == 0 || packet[9] != 1)
        return {};
    const size_t total = read16(packet, 2);
    if (total < length || total > packet.size())
        return {};
    return packet.subspan(length, total - length);
}

bool isError(uint8_t type)
{
    return type == 3 || type == 4 || type == 11 || type == 12;
}

void checkAnswer(std::span<const uint8_t> packet, const std::optional<IcmpPacket::Answer> &answer)
{
    const auto icmp = icmpOf(packet);
    const bool sound = icmp.size() >= 8 && IcmpPacket::internetChecksum(icmp) == 0;
    const bool reply = sound && icmp[0] == 0 && icmp[1] == 0 && read16(icmp, 4) == id
                       && read16(icmp, 6) == sequence;
    const bool error = sound && isError(icmp[0]) && quotesOurRequest(icmp.subspan(8));
    FUZZ_CHECK(answer.has_value() == (reply || error));
    if (!answer)
        return;
    FUZZ_CHECK(isKnownStatus(answer->status));
    FUZZ_CHECK(answer->status == IcmpPacket::statusFor(icmp[0], icmp[1]));
    FUZZ_CHECK((answer->status == IpStatus::success) == reply);
    FUZZ_CHECK(answer->source == IpAddress::fromIpv4(readAddress(packet, 12)));
    FUZZ_CHECK(answer->ttl == packet[8]);
    const bool fragNeeded = icmp[0] == 3 && icmp[1] == 4;
    FUZZ_CHECK(answer->nextHopMtu == (fragNeeded ? read16(icmp, 6) : 0));
}

// The request built around the same bytes as payload checks out as ours.
void checkRequest(std::span<const uint8_t> payload)
{
    const auto request = IcmpPacket::buildEchoRequest(id, sequence, payload);
    FUZZ_CHECK(request.size() == payload.size() + 8);
    FUZZ_CHECK(IcmpPacket::internetChecksum(request) == 0);
    FUZZ_CHECK(IcmpPacket::isOurRequest(request, id, sequence));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ExactCopy packet({data, size});
    checkAnswer(packet.span(),
                IcmpPacket::parseRawPacket(packet.span(), destination(), id, sequence));
    checkRequest(packet.span());
    return 0;
}
