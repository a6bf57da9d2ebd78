#pragma once

#include "Ports.h"
#include "X11Display.h"

#include <QObject>

namespace morvane {

class SessionActivity;

// Seconds since the last input on the X server (MIT-SCREEN-SAVER), on a connection of its own.
class X11IdleTime final : public IdleTime {
public:
    X11IdleTime();
    // One round trip; 0 when the server or the extension is missing.
    double idleSeconds() override;
    // The server offers MIT-SCREEN-SAVER (fixed for the connection's life).
    bool available() override { return m_hasExtension; }

private:
    X11Display m_display;
    bool m_hasExtension = false;
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
