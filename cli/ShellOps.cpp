#include "cli/ShellOps.h"

#include <cstdio>

#include "cli/Signals.h"

void ShellOps::yield()
{
    if (onYield_)
        onYield_();
}

// Kept for standard error, where they go once the trace is over, and for the report.
void ShellOps::messageBox(const std::string &text, MessageIcon)
{
    messages_.push_back(text);
}

bool ShellOps::closing() const
{
    return Signals::received() != 0;
}
