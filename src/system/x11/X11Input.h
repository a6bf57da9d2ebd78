#pragma once

#include "Ports.h"
#include "X11Display.h"

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace morvane {

class SessionActivity;

// Seconds since the last input on the X server (MIT-SCREEN-SAVER), on a connection of its own.
// The activity edges come from two alarms on the SYNC extension's IDLETIME counter: one as it
// climbs past a second (idle), one as input brings it back below (active again).
class X11IdleTime final : public IdleTime {
public:
    X11IdleTime();
    ~X11IdleTime() override;
    // One round trip; 0 when the server or the extension is missing.
    double idleSeconds() override;
    // The server offers MIT-SCREEN-SAVER (fixed for the connection's life).
    bool available() override { return m_hasExtension; }
    // The server offers SYNC with an IDLETIME counter.
    bool canWatch() override { return m_idleCounter != 0; }
    void watch(std::function<void()> edge) override;

private:
    // Reads what the server sent; answers whether an alarm of ours fired.
    bool drainEvents();

    X11Display m_display;
    bool m_hasExtension = false;
    unsigned long m_idleCounter = 0; // XSyncCounter
    int m_syncEventBase = 0;
    unsigned long m_alarms[2] = {0, 0}; // XSyncAlarm: turned idle, active again
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_edge;
};

// Input may be synthesised when the server offers XTest. A connection's extensions never change,
// so the answer is fixed at construction.
class X11Trust final : public AccessibilityTrust {
public:
    X11Trust();
    bool trusted() override { return m_hasXTest; }

private:
    bool m_hasXTest = false;
};

// Pointer movements through XTest, in root-window coordinates of the screen the pointer is on
// (with RandR or Xinerama that spans every monitor). Each movement also declares user activity.
class X11Jiggler final : public Jiggler {
public:
    // `activity` may be null (then only the X server's idle timer is reset).
    explicit X11Jiggler(SessionActivity* activity);
    void perform(JiggleMode mode, double distance, bool randomize) override;
    void declareActivity() override;

private:
    X11Display m_display;
    SessionActivity* m_activity;
    bool m_hasXTest = false;
    // Context of the pending return halves of standard movements; declared after the display so
    // that they are cancelled before the connection closes.
    QObject m_returns;
};

} // namespace morvane
