#pragma once

#include <string>

// The two window-toolkit operations the network layer and the engine share:
// a yield to the event loop and a modal message box titled "Korvalen" with an
// OK button only. The ui implements them; tests record them.
enum class MessageIcon { none = 0, stop = 16, exclamation = 48 };

class Toolkit {
public:
    virtual ~Toolkit() = default;
    // Process every pending window event, then return.
    virtual void yield() = 0;
    virtual void messageBox(const std::string &text, MessageIcon icon) = 0;
};
