#pragma once

#include "engine/WindowOps.h"

// A window that is not there: a trace that nobody watches (a saved trace
// checked before it is shown, a fuzzed one) shows nothing and is never closed.
class NullWindowOps : public WindowOps {
public:
    void yield() override {}
    void messageBox(const std::string &, MessageIcon) override {}
    void setCommand1Caption(const std::string &) override {}
    void setCommand1Enabled(bool) override {}
    void setCommand3Enabled(bool) override {}
    void setCommand4Enabled(bool) override {}
    void setCombo1Enabled(bool) override {}
    std::string combo1Text() const override { return {}; }
    void setText2(const std::string &) override {}
    void setText3(const std::string &) override {}
    void recordHistory() override {}
    void hideOptions() override {}
    bool closing() const override { return false; }
};
