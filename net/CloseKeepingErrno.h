#pragma once

#include <cerrno>
#include <unistd.h>

// Closes a socket whose set-up failed, keeping the errno of the call that
// failed for the caller's message; returns -1, the failed open's result.
inline int closeKeepingErrno(int fd)
{
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
}
