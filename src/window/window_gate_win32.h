// One process-wide gate for the work on the driver's windows (Windows only).
//
// Wine corrupts its own memory when edit controls are made, given a font, filled or
// destroyed on several threads at once: its text-shaping cache and its X11 side are not safe
// for it, and the crash takes the host's process down: a host under wine that starts
// instances on threads of their own crashes so now and then. The driver's window work
// therefore runs inside this gate: making the window, the messages of its panels and its
// channel field, its refresh, the keys and pages the host sets, and its destruction. What
// changes the activation (showing, hiding, focusing) stays outside: under wine it waits until
// other threads read their events, which a thread waiting here does not do.
//
// The gate is recursive (a window procedure may run inside another), its wait dispatches
// the messages other threads send to the waiting one (so two threads that send each other
// messages never deadlock on it), and the wait is bounded: after kWaitMs the work goes on
// without the gate rather than hang the host.
#pragma once
#include <cstdint>

namespace zelk::window {

class WindowGate {
public:
    static constexpr uint32_t kWaitMs = 5000;
    WindowGate();
    ~WindowGate();
    WindowGate(const WindowGate&) = delete;
    WindowGate& operator=(const WindowGate&) = delete;

private:
    bool held_ = false;
};

}  // namespace zelk::window
