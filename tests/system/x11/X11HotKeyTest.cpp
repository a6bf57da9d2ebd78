// The hot key against a real server, pressed by xdotool as any other client would. A property
// change on a window of Qt's connection serves as a barrier: when it has been filtered, every key
// event xdotool caused before it has been filtered too, and sending the posted events runs every
// action they queued.
#include "X11HotKey.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QThread>
#include <QWidget>

#include <xcb/xproto.h>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace morvane {
namespace {

using test::run;
using test::waitUntil;

constexpr unsigned int kCombination = ControlMask | Mod1Mask | Mod4Mask;

int g_lastError = 0;
int recordError(Display*, XErrorEvent* error) {
    g_lastError = error->error_code;
    return 0;
}

// Sees Qt's native events ahead of the hot key when installed after it.
class Watcher final : public QAbstractNativeEventFilter {
public:
    Watcher(xcb_keycode_t keycode, xcb_window_t barrierWindow)
        : m_keycode(keycode)
        , m_barrierWindow(barrierWindow) {}

    int presses = 0;
    int barriers = 0;

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const uint8_t kind = event->response_type & 0x7f;
        if (kind == XCB_KEY_PRESS &&
            reinterpret_cast<const xcb_key_press_event_t*>(event)->detail == m_keycode)
            ++presses;
        if (kind == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<const xcb_property_notify_event_t*>(event)->window == m_barrierWindow)
            ++barriers;
        return false;
    }

private:
    xcb_keycode_t m_keycode;
    xcb_window_t m_barrierWindow;
};

class X11HotKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr);
        m_keycode = XKeysymToKeycode(m_display, XK_j);
        m_watcher = std::make_unique<Watcher>(m_keycode, xcb_window_t(m_barrierWidget.winId()));
        m_hotKey = X11HotKeyFactory().create([this] {
            ++m_actions;
            m_onMainThread = m_onMainThread && QThread::currentThread() == qApp->thread();
        });
    }

    void TearDown() override {
        QCoreApplication::instance()->removeNativeEventFilter(m_watcher.get());
        m_hotKey.reset();
        if (m_display)
            XCloseDisplay(m_display);
    }

    // Registers and puts the watcher in front of the hot key's filter.
    void registerKey() {
        m_hotKey->registerKey();
        QCoreApplication::instance()->removeNativeEventFilter(m_watcher.get());
        QCoreApplication::instance()->installNativeEventFilter(m_watcher.get());
    }

    void xdotool(const QStringList& arguments) { ASSERT_EQ(run(QStringLiteral("xdotool"), arguments), 0); }

    void press() { xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+super+j")}); }

    // Waits until Qt has filtered everything the server sent so far, then runs the queued actions.
    void settle() {
        const int expected = m_watcher->barriers + 1;
        const Atom atom = XInternAtom(m_display, "MORVANE_TEST_BARRIER", False);
        const unsigned char value = 1;
        XChangeProperty(m_display, Window(m_barrierWidget.winId()), atom, XA_CARDINAL, 8, PropModeReplace,
                        &value, 1);
        XFlush(m_display);
        ASSERT_TRUE(waitUntil([&] { return m_watcher->barriers >= expected; }));
        QCoreApplication::sendPostedEvents();
    }

    unsigned int lockedModifiers() {
        XkbStateRec state{};
        XkbGetState(m_display, XkbUseCoreKbd, &state);
        return state.locked_mods;
    }

    // Whether another client may grab the combination with `locks`: false while someone holds it.
    bool grabbable(unsigned int locks) {
        Display* other = XOpenDisplay(nullptr);
        XSync(other, False);
        auto* previous = XSetErrorHandler(recordError);
        g_lastError = 0;
        XGrabKey(other, m_keycode, kCombination | locks, DefaultRootWindow(other), True, GrabModeAsync,
                 GrabModeAsync);
        XSync(other, False);
        XSetErrorHandler(previous);
        XCloseDisplay(other);
        return g_lastError == 0;
    }

    bool allGrabbable() {
        return grabbable(0) && grabbable(LockMask) && grabbable(Mod2Mask) && grabbable(LockMask | Mod2Mask);
    }

    Display* m_display = nullptr;
    KeyCode m_keycode = 0;
    QWidget m_barrierWidget;
    std::unique_ptr<Watcher> m_watcher;
    std::unique_ptr<HotKey> m_hotKey;
    int m_actions = 0;
    bool m_onMainThread = true;
};

TEST_F(X11HotKeyTest, EachPressRunsTheActionOnceOnTheMainThreadEvenWhenRegisteredTwice) {
    registerKey();
    registerKey();
    ASSERT_TRUE(m_hotKey->isRegistered());
    EXPECT_FALSE(grabbable(0)) << "the server must see the grab";

    press();
    settle();
    EXPECT_EQ(m_watcher->presses, 1);
    EXPECT_EQ(m_actions, 1);
    press();
    settle();
    EXPECT_EQ(m_actions, 2);
    EXPECT_TRUE(m_onMainThread);
}

TEST_F(X11HotKeyTest, NumLockAndCapsLockDoNotStopThePress) {
    registerKey();
    xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
    ASSERT_TRUE(waitUntil([&] { return lockedModifiers() & Mod2Mask; }));
    press();
    settle();
    EXPECT_EQ(m_actions, 1);

    xdotool({QStringLiteral("key"), QStringLiteral("Caps_Lock")});
    ASSERT_TRUE(waitUntil([&] { return lockedModifiers() & LockMask; }));
    press();
    settle();
    EXPECT_EQ(m_actions, 2);

    xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
    ASSERT_TRUE(waitUntil([&] { return !(lockedModifiers() & Mod2Mask); }));
    press();
    settle();
    EXPECT_EQ(m_actions, 3);
}

TEST_F(X11HotKeyTest, HoldingTheKeysRunsTheActionOnce) {
    registerKey();
    xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+super+j")});
    // The server repeats the held key; wait until it has, a few times.
    const bool repeated = waitUntil([&] { return m_watcher->presses >= 4; });
    xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+alt+super+j")});
    ASSERT_TRUE(repeated);
    settle();
    EXPECT_EQ(m_actions, 1);

    press();
    settle();
    EXPECT_EQ(m_actions, 2) << "a new press after the release counts again";
}

TEST_F(X11HotKeyTest, AKeyHeldByAnotherClientStaysUnregisteredAndLeavesNoPartialGrab) {
    Display* holder = XOpenDisplay(nullptr);
    XGrabKey(holder, m_keycode, kCombination, DefaultRootWindow(holder), True, GrabModeAsync, GrabModeAsync);
    XSync(holder, False);

    registerKey();
    EXPECT_FALSE(m_hotKey->isRegistered());
    EXPECT_TRUE(grabbable(LockMask) && grabbable(Mod2Mask) && grabbable(LockMask | Mod2Mask));
    press();
    settle();
    EXPECT_EQ(m_actions, 0);

    XCloseDisplay(holder);
    registerKey();
    EXPECT_TRUE(m_hotKey->isRegistered()) << "a later attempt grabs once the key is free";
}

TEST_F(X11HotKeyTest, UnregisteringAndDestroyingReleaseTheKey) {
    registerKey();
    m_hotKey->unregisterKey();
    EXPECT_FALSE(m_hotKey->isRegistered());
    EXPECT_TRUE(allGrabbable());
    press();
    settle();
    EXPECT_EQ(m_actions, 0);

    registerKey();
    ASSERT_TRUE(m_hotKey->isRegistered());
    press();
    settle();
    EXPECT_EQ(m_actions, 1);

    m_hotKey.reset();
    EXPECT_TRUE(allGrabbable());
}

} // namespace
} // namespace morvane
