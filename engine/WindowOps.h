#pragma once

#include <string>

#include "net/Toolkit.h"

// What the trace engine may do to the main window, beyond yield and message box.
// The ui implements it; tests record the calls and act at the n-th yield.
class WindowOps : public Toolkit {
public:
    virtual void setCommand1Caption(const std::string &caption) = 0; // "Start" / "Stop"
    virtual void setCommand1Enabled(bool enabled) = 0;
    virtual void setCommand3Enabled(bool enabled) = 0; // Options
    virtual void setCommand4Enabled(bool enabled) = 0; // Copy to clipboard
    virtual void setCombo1Enabled(bool enabled) = 0;
    virtual std::string combo1Text() const = 0;
    virtual void setText2(const std::string &text) = 0; // target's host name
    virtual void setText3(const std::string &text) = 0; // target's dotted address
    // The history's record step: adds combo1Text() when it is new.
    virtual void recordHistory() = 0;
    // Hides the Options dialog, creating it hidden when it does not exist yet.
    virtual void hideOptions() = 0;
    // True once the window is closing (Quit or the close box): the engine then
    // sends nothing more and touches no window state.
    virtual bool closing() const = 0;
};
