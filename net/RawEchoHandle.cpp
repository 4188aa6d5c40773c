#include "net/RawEchoHandle.h"

#include <cerrno>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Only echo replies and the errors that can quote a request get through;
// otherwise the socket also reads echo requests, our own ones on loopback.
bool setFilter(int fd)
{
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH)
                    | (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
    return setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
}

uint16_t randomId()
{
    std::random_device device;
    return static_cast<uint16_t>(device());
}

} // namespace

// No IP_RECVERR here: errors would arrive twice and set the socket error;
// they are read from the data stream instead.
std::unique_ptr<RawEchoHandle> RawEchoHandle::open(std::shared_ptr<const EchoService::IdleHook> idleHook)
{
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return nullptr;
    if (!setFilter(fd)) {
        const int error = errno;
        close(fd);
        errno = error;
        return nullptr;
    }
    return std::make_unique<RawEchoHandle>(fd, randomId(), std::move(idleHook));
}

void RawEchoHandle::discardStale()
{
    // A read fails once while an ICMP error has left the socket error set.
    for (int i = 0; i < maxReadsPerWake; ++i) {
        if (recv(fd(), buffer().data(), buffer().size(), MSG_DONTWAIT) < 0 && errno == EAGAIN)
            break;
    }
}

std::optional<SocketEchoHandle::Match> RawEchoHandle::readReady(short, uint32_t destination,
                                                                uint16_t sequence)
{
    for (int i = 0; i < maxReadsPerWake; ++i) {
        const ssize_t length = recv(fd(), buffer().data(), buffer().size(), MSG_DONTWAIT);
        if (length < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return std::nullopt;
            continue;
        }
        const auto receivedAt = Clock::now();
        const auto packet = std::span<const uint8_t>(buffer().data(), static_cast<size_t>(length));
        if (auto answer = IcmpPacket::parseRawPacket(packet, destination, id(), sequence))
            return Match{*answer, receivedAt};
    }
    return std::nullopt;
}
