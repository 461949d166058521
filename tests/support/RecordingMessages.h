#pragma once

#include "platform/windowing/Messages.h"

#include <vector>

// Installs itself in place of the real beep and message box for its lifetime, and keeps
// everything it was asked to show, in order.
class RecordingMessages final : public windowing::MessageService {
public:
    struct Event {
        bool beep = false;
        windowing::MessageBoxRequest box;
    };

    RecordingMessages() { windowing::setMessageService(this); }
    ~RecordingMessages() override { windowing::setMessageService(nullptr); }

    void beep() override { events.push_back({true, {}}); }
    void messageBox(const windowing::MessageBoxRequest &request) override
    {
        events.push_back({false, request});
    }

    std::vector<Event> events;
};
