#pragma once

#include <functional>

// Processing of pending window events on demand, for the loops of the station that
// wait while keeping the window responsive. Both calls answer the number of open
// windows: 0 once the main window has been closed.
class EventProcessor
{
public:
    virtual ~EventProcessor() = default;
    // Processes the events that are pending now and returns at once.
    virtual int doEvents() = 0;
    // Sleeps until at least one event arrives or maxMilliseconds have passed, then
    // processes what is pending. The waits of the station use this, never a spin.
    virtual int waitEvents(int maxMilliseconds) = 0;
};

class QtEventProcessor : public EventProcessor
{
public:
    explicit QtEventProcessor(std::function<int()> openWindows);
    int doEvents() override;
    int waitEvents(int maxMilliseconds) override;

private:
    std::function<int()> m_openWindows;
};
