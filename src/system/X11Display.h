#pragma once

// Forward declaration keeps Xlib's macros (None, Bool, Status...) out of every includer.
struct _XDisplay;
using Display = struct _XDisplay;

namespace morvane {

// An Xlib connection of our own, closed on destruction. Adapters that query the server on the
// tick use their own connection so that replies never wake Qt's xcb reader thread.
class X11Display {
public:
    // Opens $DISPLAY (or `name`); get() is null when no server answers.
    explicit X11Display(const char* name = nullptr);
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    Display* get() const { return m_display; }
    explicit operator bool() const { return m_display != nullptr; }

private:
    Display* m_display = nullptr;
};

} // namespace morvane
