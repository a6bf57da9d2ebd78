// The XTest jiggler, idle time and trust against a real Xvfb. A full-screen override-redirect
// window of the test's own connection sees every pointer event the server delivers, so each
// movement is checked event by event, ending with a warp of the test's own as a marker: once the
// marker arrives, everything the jiggler posted before it has arrived too.
#include "X11Input.h"
#include "IdleWatchScenario.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <cmath>
#include <set>
#include <utility>
#include <vector>

#include <X11/Xlib.h>

namespace morvane {
namespace {

using test::waitUntil;

struct PointerEvent {
    int type = 0; // MotionNotify, ButtonPress or ButtonRelease
    int x = 0;
    int y = 0;
    unsigned int button = 0;
    unsigned long time = 0; // not compared
    bool operator==(const PointerEvent& o) const {
        return type == o.type && x == o.x && y == o.y && button == o.button;
    }
};

void PrintTo(const PointerEvent& e, std::ostream* os) {
    *os << "{type " << e.type << " at " << e.x << "," << e.y << " button " << e.button << "}";
}

PointerEvent motion(int x, int y) {
    return {MotionNotify, x, y, 0, 0};
}

constexpr int kStartX = 400;
constexpr int kStartY = 300;

class X11InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
        const int screen = DefaultScreen(m_display);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.event_mask = PointerMotionMask | ButtonPressMask | ButtonReleaseMask;
        const Window probe = XCreateWindow(
            m_display, RootWindow(m_display, screen), 0, 0, unsigned(DisplayWidth(m_display, screen)),
            unsigned(DisplayHeight(m_display, screen)), 0, CopyFromParent, InputOutput, CopyFromParent,
            CWOverrideRedirect | CWEventMask, &attributes);
        XMapRaised(m_display, probe);
        XSync(m_display, False);
        ASSERT_TRUE(waitUntil([&] {
            XWindowAttributes a;
            return XGetWindowAttributes(m_display, probe, &a) && a.map_state == IsViewable;
        }));
        startFromStart();
    }

    void TearDown() override {
        if (m_display)
            XCloseDisplay(m_display);
    }

    void collect() {
        while (XPending(m_display)) {
            XEvent e;
            XNextEvent(m_display, &e);
            if (e.type == MotionNotify)
                m_events.push_back({e.type, e.xmotion.x_root, e.xmotion.y_root, 0, e.xmotion.time});
            else if (e.type == ButtonPress || e.type == ButtonRelease)
                m_events.push_back(
                    {e.type, e.xbutton.x_root, e.xbutton.y_root, e.xbutton.button, e.xbutton.time});
        }
    }

    // Warps the pointer and waits until the probe has seen it arrive.
    bool warpTo(int x, int y) {
        XWarpPointer(m_display, None, DefaultRootWindow(m_display), 0, 0, 0, 0, x, y);
        XSync(m_display, False);
        return waitUntil([&] {
            collect();
            return !m_events.empty() && m_events.back() == motion(x, y);
        });
    }

    void startFromStart() {
        ASSERT_TRUE(warpTo(kStartX, kStartY));
        m_events.clear();
    }

    // Waits until `count` events have come, then answers everything that came before the marker.
    std::vector<PointerEvent> events(size_t count) {
        EXPECT_TRUE(waitUntil([&] {
            collect();
            return m_events.size() >= count;
        })) << "only "
            << m_events.size() << " of " << count << " events came";
        EXPECT_TRUE(warpTo(700, 600));
        std::vector<PointerEvent> events = std::exchange(m_events, {});
        events.pop_back();
        return events;
    }

    Display* m_display = nullptr;
    std::vector<PointerEvent> m_events;
};

TEST_F(X11InputTest, StandardStepsRightByTheDistanceOrOnePixelAndReturnsToTheStartLater) {
    X11Jiggler jiggler(nullptr);
    const std::pair<double, int> cases[] = {{4, 4}, {0.2, 1}, {0, 1}, {-7, 1}, {std::nan(""), 1}};
    for (const auto& [distance, step] : cases) {
        SCOPED_TRACE(distance);
        startFromStart();
        jiggler.perform(JiggleMode::standard, distance, false);
        const std::vector<PointerEvent> seen = events(2);
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0], motion(kStartX + step, kStartY));
        EXPECT_EQ(seen[1], motion(kStartX, kStartY));
        // The return waits 60 ms; an immediate one would land within a millisecond or two.
        EXPECT_GE(seen[1].time - seen[0].time, 20u);
    }
}

TEST_F(X11InputTest, RandomizedStepsKeepTheirLengthAndAlwaysReturnExactly) {
    X11Jiggler jiggler(nullptr);
    constexpr double kDistance = 20;
    std::set<std::pair<int, int>> steps;
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        startFromStart();
        jiggler.perform(JiggleMode::standard, kDistance, true);
        const std::vector<PointerEvent> seen = events(2);
        ASSERT_EQ(seen.size(), 2u);
        const int dx = seen[0].x - kStartX;
        const int dy = seen[0].y - kStartY;
        // Rounding moves each coordinate of the end by at most half a pixel.
        EXPECT_NEAR(std::hypot(dx, dy), kDistance, std::sqrt(0.5));
        EXPECT_EQ(seen[1], motion(kStartX, kStartY));
        steps.insert({dx, dy});
    }
    EXPECT_GE(steps.size(), 2u) << "eight random directions all came out equal";
}

TEST_F(X11InputTest, ZenPostsOneMotionInPlaceAndClickOneClickInPlace) {
    X11IdleTime idle;
    ASSERT_TRUE(waitUntil([&] { return idle.idleSeconds() >= 1.0; }));
    X11Jiggler jiggler(nullptr);

    jiggler.perform(JiggleMode::zen, 4, true);
    ASSERT_TRUE(waitUntil([&] {
        collect();
        return !m_events.empty();
    }));
    EXPECT_LT(idle.idleSeconds(), 0.5);
    EXPECT_EQ(events(1), std::vector{motion(kStartX, kStartY)});

    startFromStart();
    jiggler.perform(JiggleMode::click, 4, true);
    const std::vector<PointerEvent> click{{ButtonPress, kStartX, kStartY, Button1, 0},
                                          {ButtonRelease, kStartX, kStartY, Button1, 0}};
    EXPECT_EQ(events(2), click);
}

TEST_F(X11InputTest, DeclaringActivityResetsTheIdleTimeWithoutInput) {
    X11IdleTime idle;
    ASSERT_TRUE(waitUntil([&] { return idle.idleSeconds() >= 1.0; }));
    X11Jiggler(nullptr).declareActivity();
    EXPECT_TRUE(waitUntil([&] { return idle.idleSeconds() < 0.5; }));
    EXPECT_TRUE(events(0).empty());
}

TEST(X11IdleWatch, IdleOnlyMovesAtTheThresholdThroughTheIdleTimeAlarms) {
    X11IdleTime idle;
    test::idleOnlyFollowsTheSourcesWatch(idle, [] {
        ASSERT_EQ(
            test::run(QStringLiteral("xdotool"), {QStringLiteral("mousemove_relative"), QStringLiteral("--"),
                                                  QStringLiteral("1"), QStringLiteral("1")}),
            0);
    });
}

TEST(X11InputNoServer, EveryAnswerIsNegativeAndNothingIsPosted) {
    EXPECT_TRUE(X11Trust().trusted()) << "Xvfb offers XTest";
    const QByteArray display = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":nonexistent");
    X11IdleTime idle;
    X11Trust trust;
    X11Jiggler jiggler(nullptr);
    qputenv("DISPLAY", display);

    EXPECT_EQ(idle.idleSeconds(), 0.0);
    EXPECT_FALSE(trust.trusted());
    for (JiggleMode mode : kAllJiggleModes)
        jiggler.perform(mode, 4, false); // must not touch the missing connection
}

} // namespace
} // namespace morvane
