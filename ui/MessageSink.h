#pragma once

#include <QString>

#include "net/Toolkit.h"

// Where every message box of the program goes: the real sink shows a modal
// box, tests record the calls.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(const QString &title, const QString &text, MessageIcon icon) = 0;
};
