#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/WindowOps.h"

// The window the engine drives, as a shell has it: the host comes from the
// command line, the target's address and name are kept for the report, a
// message goes to standard error, and a yield only looks for a signal and
// shows progress. Once SIGINT or SIGTERM came the engine sees the window
// closing: it sends nothing more and writes nothing more.
class ShellOps : public WindowOps {
public:
    explicit ShellOps(std::string host) : host_(std::move(host)) {}

    // Called at every yield, before each probe (progress).
    void setOnYield(std::function<void()> onYield) { onYield_ = std::move(onYield); }

    void yield() override;
    void messageBox(const std::string &text, MessageIcon icon) override;
    void setCommand1Caption(const std::string &) override {}
    void setCommand1Enabled(bool) override {}
    void setCommand3Enabled(bool) override {}
    void setCommand4Enabled(bool) override {}
    void setCombo1Enabled(bool) override {}
    std::string combo1Text() const override { return host_; }
    void setText2(const std::string &text) override { text2_ = text; }
    void setText3(const std::string &text) override { text3_ = text; }
    void recordHistory() override {}
    void hideOptions() override {}
    bool closing() const override;

    const std::string &text2() const { return text2_; }
    const std::string &text3() const { return text3_; }
    // The messages the trace gave, in order; the first one ended it.
    const std::vector<std::string> &messages() const { return messages_; }

private:
    std::string host_;
    std::string text2_;
    std::string text3_;
    std::vector<std::string> messages_;
    std::function<void()> onYield_;
};
