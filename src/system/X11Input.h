#pragma once

#include "Ports.h"
#include "X11Display.h"

namespace morvane {

class SessionActivity;

// Seconds since the last input on the X server (MIT-SCREEN-SAVER), on a connection of its own.
class X11IdleTime final : public IdleTime {
public:
    X11IdleTime();
    // One round trip; 0 when the server or the extension is missing.
    double idleSeconds() override;

private:
    X11Display m_display;
    bool m_hasExtension = false;
};

// Input may be synthesised when the server offers XTest.
class X11Trust final : public AccessibilityTrust {
public:
    X11Trust();
    bool trusted() override { return m_hasXTest; }

private:
    bool m_hasXTest = false;
};

// Pointer movements through XTest. Each movement also declares user activity to the session.
class X11Jiggler final : public Jiggler {
public:
    // `activity` may be null (then only the X server's idle timer is reset).
    explicit X11Jiggler(SessionActivity* activity);
    void perform(JiggleMode mode, double distance, bool randomize) override;
    void declareActivity() override;

private:
    X11Display m_display;
    SessionActivity* m_activity;
};

} // namespace morvane
