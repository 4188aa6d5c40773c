#pragma once

#include "ui/MessageSink.h"

// Modal message box with an OK button only.
class MessageBoxSink : public MessageSink {
public:
    void show(const QString &title, const QString &text, MessageIcon icon) override;
};
