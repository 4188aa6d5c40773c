#include "cli/ReportOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/Signals.h"

namespace {

bool writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string failure(const std::string &what)
{
    return "cannot write the report to " + what + ": " + std::strerror(errno);
}

// A new file gets the permissions the umask leaves, as the shell's > gives.
void usualPermissions(int fd)
{
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
}

std::string writeFile(const std::string &path, const std::string &text)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return failure(path);
    Signals::setPartialFile(temporary.c_str());
    usualPermissions(fd);
    const bool written = writeAll(fd, text) && fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = close(fd) == 0;
    if (written && closed && rename(temporary.c_str(), path.c_str()) == 0) {
        Signals::setPartialFile(nullptr);
        return {};
    }
    if (!written)
        errno = writeError; // else close's or rename's
    const std::string message = failure(path);
    unlink(temporary.c_str());
    Signals::setPartialFile(nullptr);
    return message;
}

} // namespace

std::string writeReport(const std::string &path, const std::string &text)
{
    if (!path.empty())
        return writeFile(path, text);
    // A closed pipe (EPIPE, SIGPIPE is ignored) or a full disk is said, never silent.
    if (!writeAll(STDOUT_FILENO, text))
        return failure("standard output");
    if (fsync(STDOUT_FILENO) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP)
        return failure("standard output");
    return {};
}
