#pragma once

#include <QList>
#include <QString>

#include "ui/MessageSink.h"

// Records every message box instead of showing it: synchronous, no nested loop.
class RecordingSink : public MessageSink {
public:
    struct Message {
        QString title;
        QString text;
        MessageIcon icon;
    };
    void show(const QString &title, const QString &text, MessageIcon icon) override
    {
        messages.append({title, text, icon});
    }
    QList<Message> messages;
};
