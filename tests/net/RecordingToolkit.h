#pragma once

#include "net/Toolkit.h"

#include <string>
#include <vector>

// Records every toolkit call in order: "yield" or "message <icon>: <text>".
class RecordingToolkit : public Toolkit {
public:
    void yield() override { calls.push_back("yield"); }
    void messageBox(const std::string &text, MessageIcon icon) override
    {
        calls.push_back("message " + std::to_string(static_cast<int>(icon)) + ": " + text);
    }

    std::vector<std::string> calls;
};
