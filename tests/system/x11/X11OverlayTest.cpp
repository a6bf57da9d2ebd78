// The overlay window as the X server sees it: where it is mapped, where it stacks, whether it takes
// the focus or the pointer, and when it goes away.
#include "TestServers.h"
#include "X11JiggleOverlay.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <utility>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace morvane {
namespace {

using test::waitUntil;

class ClickCounter final : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

class X11OverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
        // An ordinary window below where the overlay will appear, holding the focus.
        m_below.setWindowTitle(QStringLiteral("below"));
        m_below.setGeometry(200, 100, 400, 400);
        m_below.show();
        // Focus it directly: whether the window manager hands focus to a window that appears
        // without user input depends on its focus-stealing rules.
        ASSERT_TRUE(waitUntil([&] { return viewable(m_below.winId()); }));
        XSetInputFocus(m_display, Window(m_below.winId()), RevertToParent, CurrentTime);
        XSync(m_display, False);
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &m_below; }));
        warpTo(300, 200);
    }

    void TearDown() override {
        if (m_display)
            XCloseDisplay(m_display);
    }

    void warpTo(int x, int y) {
        XWarpPointer(m_display, None, DefaultRootWindow(m_display), 0, 0, 0, 0, x, y);
        XSync(m_display, False);
        ASSERT_TRUE(waitUntil([&] { return QCursor::pos() == QPoint(x, y); }));
    }

    bool viewable(WId window) {
        XWindowAttributes a;
        return XGetWindowAttributes(m_display, Window(window), &a) && a.map_state == IsViewable;
    }

    // The window's outer rectangle in root coordinates.
    QRect geometry(WId window) {
        Window root, child;
        int x = 0, y = 0, rootX = 0, rootY = 0;
        unsigned int width = 0, height = 0, border = 0, depth = 0;
        XGetGeometry(m_display, Window(window), &root, &x, &y, &width, &height, &border, &depth);
        XTranslateCoordinates(m_display, Window(window), root, 0, 0, &rootX, &rootY, &child);
        return QRect(rootX, rootY, int(width), int(height));
    }

    // The highest mapped child of the root window.
    Window topmost() {
        Window root, parent, *children = nullptr;
        unsigned int count = 0;
        XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count);
        Window top = None;
        for (unsigned int i = count; i-- > 0 && top == None;) {
            if (viewable(children[i]))
                top = children[i];
        }
        if (children)
            XFree(children);
        return top;
    }

    Window inputFocus() {
        Window focus = None;
        int revert = 0;
        XGetInputFocus(m_display, &focus, &revert);
        return focus;
    }

    Display* m_display = nullptr;
    ClickCounter m_below;
};

TEST_F(X11OverlayTest, ShowsBelowRightOfThePointerOnTopWithoutFocusThenFadesAndHides) {
    X11JiggleOverlay overlay;
    EXPECT_EQ(overlay.panel(), nullptr) << "built only when first needed";
    const Window focusBefore = inputFocus();

    QElapsedTimer sinceFlash;
    sinceFlash.start();
    overlay.flash();
    ASSERT_NE(overlay.panel(), nullptr);
    const WId panel = overlay.panel()->winId();

    ASSERT_TRUE(waitUntil([&] { return viewable(panel); }, 1000));
    EXPECT_EQ(geometry(panel), QRect(314, 210, 40, 40));
    EXPECT_EQ(topmost(), Window(panel));
    EXPECT_EQ(overlay.panel()->windowOpacity(), 1.0);

    // Fully visible for half a second, then fading for another half.
    ASSERT_TRUE(waitUntil([&] { return overlay.panel()->windowOpacity() < 1.0; }, 3000));
    EXPECT_GE(sinceFlash.elapsed(), 490);
    EXPECT_TRUE(viewable(panel));
    ASSERT_TRUE(waitUntil([&] { return !viewable(panel); }, 3000));
    EXPECT_GE(sinceFlash.elapsed(), 990);
    EXPECT_EQ(overlay.panel()->windowOpacity(), 0.0);

    EXPECT_EQ(QApplication::activeWindow(), &m_below);
    EXPECT_EQ(inputFocus(), focusBefore);
}

TEST_F(X11OverlayTest, LetsThePointerAndClicksThroughToTheWindowBelow) {
    X11JiggleOverlay overlay;
    overlay.flash();
    const WId panel = overlay.panel()->winId();
    ASSERT_TRUE(waitUntil([&] { return viewable(panel); }, 1000));

    warpTo(334, 230); // the middle of the overlay
    Window root, child = None;
    int x, y, wx, wy;
    unsigned int mask;
    XQueryPointer(m_display, DefaultRootWindow(m_display), &root, &child, &x, &y, &wx, &wy, &mask);
    EXPECT_NE(child, Window(panel));

    XTestFakeButtonEvent(m_display, Button1, True, CurrentTime);
    XTestFakeButtonEvent(m_display, Button1, False, CurrentTime);
    XSync(m_display, False);
    EXPECT_TRUE(waitUntil([&] { return m_below.presses == 1; }));
    EXPECT_TRUE(viewable(panel)) << "the click must land while the overlay is up";
}

TEST_F(X11OverlayTest, KeepsOneWindowThatFollowsThePointerAndSurvivesOverlappingFlashes) {
    auto overlay = std::make_unique<X11JiggleOverlay>();
    overlay->flash();
    QWidget* first = overlay->panel();
    ASSERT_TRUE(waitUntil([&] { return viewable(first->winId()); }, 1000));
    ASSERT_TRUE(waitUntil([&] { return !viewable(first->winId()); }, 3000));

    warpTo(500, 400);
    overlay->flash();
    EXPECT_EQ(overlay->panel(), first);
    EXPECT_EQ(first->windowOpacity(), 1.0) << "a faded panel must come back opaque";
    ASSERT_TRUE(waitUntil([&] { return viewable(first->winId()); }, 1000));
    EXPECT_EQ(geometry(first->winId()), QRect(514, 410, 40, 40));

    // A flash while another is up, then the overlay goes while both fades are pending.
    overlay->flash();
    overlay.reset();
    bool pastFades = false;
    QTimer::singleShot(1200, [&] { pastFades = true; });
    EXPECT_TRUE(waitUntil([&] { return pastFades; }, 3000));
}

} // namespace
} // namespace morvane
