#include "X11Input.h"

#include "SessionActivity.h"

#include <QRandomGenerator>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/extensions/sync.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>

namespace morvane {

namespace {

// The return half of a standard movement follows the outward half after this long.
constexpr int kReturnDelayMs = 60;
// The idle time at which the session counts as turned idle, in milliseconds.
constexpr int kEdgeMs = 1000;
// No step is longer than the X coordinate space is wide.
constexpr double kLongestStep = 65535;

struct PointerAt {
    int screen = 0;
    int x = 0;
    int y = 0;
};

bool hasXTest(Display* display) {
    int event = 0, error = 0, major = 0, minor = 0;
    return display && XTestQueryExtension(display, &event, &error, &major, &minor);
}

std::optional<PointerAt> readPointer(Display* display) {
    if (!display)
        return std::nullopt;
    Window root = None, child = None;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    // False only means the pointer is on another screen than the default one; root and the root
    // coordinates are still those of the pointer's screen.
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &winX, &winY, &mask);
    for (int screen = 0; screen < ScreenCount(display); ++screen) {
        if (RootWindow(display, screen) == root)
            return PointerAt{screen, rootX, rootY};
    }
    return std::nullopt;
}

// The protocol carries positions as 16-bit values; clamp rather than let them wrap.
int toCoordinate(double value) {
    return int(std::clamp(std::lround(value), -32768L, 32767L));
}

void moveTo(Display* display, const PointerAt& at) {
    XTestFakeMotionEvent(display, at.screen, at.x, at.y, CurrentTime);
}

} // namespace

X11IdleTime::X11IdleTime() {
    int event = 0, error = 0;
    m_hasExtension = m_display && XScreenSaverQueryExtension(m_display.get(), &event, &error);
    int syncError = 0, major = 0, minor = 0;
    if (!m_display || !XSyncQueryExtension(m_display.get(), &m_syncEventBase, &syncError) ||
        !XSyncInitialize(m_display.get(), &major, &minor))
        return;
    int count = 0;
    XSyncSystemCounter* counters = XSyncListSystemCounters(m_display.get(), &count);
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(counters[i].name, "IDLETIME") == 0)
            m_idleCounter = counters[i].counter;
    }
    if (counters)
        XSyncFreeSystemCounterList(counters);
}

X11IdleTime::~X11IdleTime() {
    m_notifier.reset();
    for (const unsigned long alarm : m_alarms) {
        if (alarm)
            XSyncDestroyAlarm(m_display.get(), alarm);
    }
}

double X11IdleTime::idleSeconds() {
    if (!m_hasExtension)
        return 0;
    Display* display = m_display.get();
    XScreenSaverInfo info{};
    const bool answered = XScreenSaverQueryInfo(display, DefaultRootWindow(display), &info);
    // Xlib queues the events that came before the reply, and the socket has nothing more to say
    // about them; the idle time just read already tells what they would.
    drainEvents();
    if (!answered)
        return 0;
    return double(info.idle) / 1000.0;
}

void X11IdleTime::watch(std::function<void()> edge) {
    m_edge = std::move(edge);
    if (!m_idleCounter || m_notifier)
        return;
    Display* display = m_display.get();
    // Both alarms at one second: the counter climbing past it means no input for a second, and
    // falling back below it means input after that. Input that keeps coming fires neither.
    XSyncValue second;
    XSyncIntToValue(&second, kEdgeMs);
    XSyncValue zero;
    XSyncIntToValue(&zero, 0);
    const XSyncTestType tests[2] = {XSyncPositiveTransition, XSyncNegativeTransition};
    for (int i = 0; i < 2; ++i) {
        XSyncAlarmAttributes attributes{};
        attributes.trigger.counter = m_idleCounter;
        attributes.trigger.value_type = XSyncAbsolute;
        attributes.trigger.test_type = tests[i];
        attributes.trigger.wait_value = second;
        attributes.delta = zero;
        attributes.events = True;
        m_alarms[i] = XSyncCreateAlarm(display,
                                       XSyncCACounter | XSyncCAValueType | XSyncCATestType | XSyncCAValue |
                                           XSyncCADelta | XSyncCAEvents,
                                       &attributes);
    }
    XFlush(display);
    m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        if (drainEvents() && m_edge)
            m_edge();
    });
}

bool X11IdleTime::drainEvents() {
    Display* display = m_display.get();
    if (!display)
        return false;
    bool fired = false;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != m_syncEventBase + XSyncAlarmNotify)
            continue;
        const auto* notify = reinterpret_cast<const XSyncAlarmNotifyEvent*>(&event);
        fired = fired || notify->alarm == m_alarms[0] || notify->alarm == m_alarms[1];
    }
    return fired;
}

X11Trust::X11Trust() {
    X11Display display;
    m_hasXTest = hasXTest(display.get());
}

X11Jiggler::X11Jiggler(SessionActivity* activity)
    : m_activity(activity)
    , m_hasXTest(hasXTest(m_display.get())) {}

void X11Jiggler::perform(JiggleMode mode, double distance, bool randomize) {
    // Without XTest every fake-input call would only print Xlib's "extension missing" warning.
    const std::optional<PointerAt> start = m_hasXTest ? readPointer(m_display.get()) : std::nullopt;
    if (start) {
        Display* display = m_display.get();
        switch (mode) {
        case JiggleMode::standard: {
            const double step = std::isnan(distance) ? 1.0 : std::clamp(distance, 1.0, kLongestStep);
            const double angle = randomize ? QRandomGenerator::global()->bounded(2 * std::numbers::pi) : 0.0;
            // Root coordinates grow downwards, so a positive sine steps down just as the angle
            // is meant.
            PointerAt out = *start;
            out.x = toCoordinate(start->x + step * std::cos(angle));
            out.y = toCoordinate(start->y + step * std::sin(angle));
            moveTo(display, out);
            // The return goes to the position read now, whatever movements start meanwhile.
            QTimer::singleShot(kReturnDelayMs, &m_returns, [this, back = *start] {
                moveTo(m_display.get(), back);
                XFlush(m_display.get());
            });
            break;
        }
        case JiggleMode::zen:
            // A motion to where the pointer already is moves nothing, yet the server counts it as
            // input: it resets the idle time and sends MotionNotify to the window below.
            moveTo(display, *start);
            break;
        case JiggleMode::click:
            XTestFakeButtonEvent(display, Button1, True, CurrentTime);
            XTestFakeButtonEvent(display, Button1, False, CurrentTime);
            break;
        }
        XFlush(display);
    }
    declareActivity();
}

void X11Jiggler::declareActivity() {
    if (Display* display = m_display.get()) {
        XResetScreenSaver(display);
        XFlush(display);
    }
    if (m_activity)
        m_activity->declare();
}

} // namespace morvane
