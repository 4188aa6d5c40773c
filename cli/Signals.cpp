#include "cli/Signals.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t first = 0;
std::atomic<const char *> partialFile{nullptr};

void onSignal(int signal)
{
    if (first != 0) {
        if (const char *path = partialFile.load())
            unlink(path);
        _exit(128 + signal);
    }
    first = signal;
}

} // namespace

namespace Signals {

void install()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait the signal cuts short returns at once.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe is a failed write with a message, never a silent death.
    std::signal(SIGPIPE, SIG_IGN);
}

int received()
{
    return first;
}

void setPartialFile(const char *path)
{
    partialFile.store(path);
}

} // namespace Signals
