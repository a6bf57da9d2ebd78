// Clicks at (x, y) through XTest and prints the milliseconds until a new top-level window maps
// (the popover is one): a measure of click → popover without a polling client in between.
// Usage: morvane_click_to_map X Y [BUTTON]
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return 1;
    const Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    XTestFakeMotionEvent(d, -1, std::atoi(argv[1]), std::atoi(argv[2]), CurrentTime);
    XSync(d, False);
    const unsigned button = argc > 3 ? unsigned(std::atoi(argv[3])) : 1;
    const auto start = std::chrono::steady_clock::now();
    XTestFakeButtonEvent(d, button, True, CurrentTime);
    XTestFakeButtonEvent(d, button, False, CurrentTime);
    XFlush(d);
    for (;;) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == MapNotify)
            break;
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (waited > 10)
            return 3;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.1f\n", ms);
    XCloseDisplay(d);
    return 0;
}
