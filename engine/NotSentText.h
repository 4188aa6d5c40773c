#pragma once

#include <string>

// The message of a trace whose first probe could not leave the machine: the
// target (as the IP address box shows it) and, in words, why the kernel
// refused the send (an errno of IcmpEchoReply::sendErrno).
std::string notSentText(const std::string &target, int sendErrno);
