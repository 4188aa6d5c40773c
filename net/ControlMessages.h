#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <sys/socket.h>

// Walking the control messages of one recvmsg as plain bytes, so that any
// kernel output, or any bytes at all, are safe input.
namespace ControlMessages {

// Calls visit(type, data) for each control message at this level, in order.
// The walk trusts no length: a message whose length runs past the bytes or
// below its own header ends it. It copies instead of casting, as the bytes
// need not be aligned.
template <typename Visit> void forEach(std::span<const uint8_t> bytes, int level, Visit visit)
{
    size_t at = 0;
    while (bytes.size() - at >= sizeof(cmsghdr)) {
        cmsghdr header;
        std::memcpy(&header, bytes.data() + at, sizeof header);
        if (header.cmsg_len < CMSG_LEN(0) || header.cmsg_len > bytes.size() - at)
            return;
        if (header.cmsg_level == level)
            visit(header.cmsg_type, bytes.subspan(at + CMSG_LEN(0), header.cmsg_len - CMSG_LEN(0)));
        // The last message's padding may be missing.
        at += std::min(CMSG_ALIGN(header.cmsg_len), bytes.size() - at);
    }
}

template <typename T> bool copyFrom(std::span<const uint8_t> bytes, T &value, size_t at = 0)
{
    if (bytes.size() < at + sizeof value)
        return false;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return true;
}

} // namespace ControlMessages
