#include "tests/fakes/FakeWindowOps.h"

namespace {
std::string flag(bool on) { return on ? "1" : "0"; }
} // namespace

void FakeWindowOps::log(std::string call)
{
    if (closing_)
        ++callsAfterClose_;
    calls_.push_back(std::move(call));
}

void FakeWindowOps::yield()
{
    if (closing_)
        ++yieldsAfterClose_;
    ++yields_;
    if (everyYield_)
        everyYield_();
    const auto it = yieldActions_.find(yields_);
    if (it != yieldActions_.end())
        it->second();
}

void FakeWindowOps::messageBox(const std::string &text, MessageIcon icon)
{
    messages_.push_back({text, icon});
    log("message " + std::to_string(static_cast<int>(icon)) + " " + text);
}

void FakeWindowOps::setCommand1Caption(const std::string &caption)
{
    caption_ = caption;
    log("Command1.caption " + caption);
}

void FakeWindowOps::setCommand1Enabled(bool enabled)
{
    command1_ = enabled;
    log("Command1.enabled " + flag(enabled));
}

void FakeWindowOps::setCommand3Enabled(bool enabled)
{
    command3_ = enabled;
    log("Command3.enabled " + flag(enabled));
}

void FakeWindowOps::setCommand4Enabled(bool enabled)
{
    command4_ = enabled;
    log("Command4.enabled " + flag(enabled));
}

void FakeWindowOps::setCombo1Enabled(bool enabled)
{
    combo1Enabled_ = enabled;
    log("Combo1.enabled " + flag(enabled));
}

std::string FakeWindowOps::combo1Text() const { return combo1_; }

void FakeWindowOps::setText2(const std::string &text)
{
    text2_ = text;
    log("Text2 " + text);
}

void FakeWindowOps::setText3(const std::string &text)
{
    text3_ = text;
    log("Text3 " + text);
}

void FakeWindowOps::recordHistory()
{
    history_.push_back(combo1_);
    log("recordHistory");
}

void FakeWindowOps::hideOptions()
{
    ++hideOptions_;
    log("hideOptions");
}

void FakeWindowOps::atYield(int n, std::function<void()> action)
{
    yieldActions_[n] = std::move(action);
}

void FakeWindowOps::onEveryYield(std::function<void()> action)
{
    everyYield_ = std::move(action);
}
