#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/WindowOps.h"

// The main window as the engine sees it, recording every call. Control changes
// are logged in order as texts such as "Command1.caption Stop",
// "Command3.enabled 0", "Combo1.enabled 1", "hideOptions", "recordHistory",
// "Text3 10.0.0.9", "message 0 Unable to resolve the host name." (the number
// is the icon style). Yields are counted, not logged, and can run an action:
// press Stop (call the engine's command1Click) or close the window.
class FakeWindowOps : public WindowOps {
public:
    struct Message {
        std::string text;
        MessageIcon icon;
    };

    // ---- Toolkit
    void yield() override;
    void messageBox(const std::string &text, MessageIcon icon) override;

    // ---- WindowOps
    void setCommand1Caption(const std::string &caption) override;
    void setCommand1Enabled(bool enabled) override;
    void setCommand3Enabled(bool enabled) override;
    void setCommand4Enabled(bool enabled) override;
    void setCombo1Enabled(bool enabled) override;
    std::string combo1Text() const override;
    void setText2(const std::string &text) override;
    void setText3(const std::string &text) override;
    void recordHistory() override;
    void hideOptions() override;
    bool closing() const override { return closing_; }

    // ---- scripting
    void setCombo1Text(std::string text) { combo1_ = std::move(text); }
    // Runs action during the n-th yield (1-based), after it is counted.
    void atYield(int n, std::function<void()> action);
    // Runs action during every yield.
    void onEveryYield(std::function<void()> action);
    // Quit or the close box: closing() is true from now on.
    void close() { closing_ = true; }
    void closeAtYield(int n)
    {
        atYield(n, [this] { close(); });
    }

    // ---- what happened
    int yields() const { return yields_; }
    const std::vector<std::string> &calls() const { return calls_; }
    const std::vector<Message> &messages() const { return messages_; }
    const std::vector<std::string> &history() const { return history_; }
    int hideOptionsCount() const { return hideOptions_; }
    // Calls other than yield and closing() made once closing() was true.
    int callsAfterClose() const { return callsAfterClose_; }
    int yieldsAfterClose() const { return yieldsAfterClose_; }

    std::string command1Caption() const { return caption_; }
    bool command1Enabled() const { return command1_; }
    bool command3Enabled() const { return command3_; }
    bool command4Enabled() const { return command4_; }
    bool combo1Enabled() const { return combo1Enabled_; }
    std::string text2() const { return text2_; }
    std::string text3() const { return text3_; }

private:
    void log(std::string call);

    int yields_ = 0;
    std::map<int, std::function<void()>> yieldActions_;
    std::function<void()> everyYield_;
    bool closing_ = false;
    int callsAfterClose_ = 0;
    int yieldsAfterClose_ = 0;
    std::vector<std::string> calls_;
    std::vector<Message> messages_;
    std::vector<std::string> history_;
    int hideOptions_ = 0;

    std::string combo1_;
    std::string caption_ = "Start";
    bool command1_ = true;
    bool command3_ = true;
    bool command4_ = false;
    bool combo1Enabled_ = true;
    std::string text2_;
    std::string text3_;
};
