#include "X11Display.h"

#include <X11/Xlib.h>

namespace morvane {

X11Display::X11Display(const char* name)
    : m_display(XOpenDisplay(name)) {}

X11Display::~X11Display() {
    if (m_display)
        XCloseDisplay(m_display);
}

} // namespace morvane
