#pragma once

#include "Ports.h"

#include <QObject>

struct zwlr_virtual_pointer_v1;

namespace morvane {

class SessionActivity;
class WlrClient;

// The outward half of a standard movement for devices that only move relative to where the
// pointer is: `distance` points (at least 1, NaN counts as 1) to the right, or in a random
// direction when `randomize` is on. The return half is its opposite.
struct RelativeStep {
    double dx = 0;
    double dy = 0;
};
RelativeStep relativeStep(double distance, bool randomize);
// The return half follows the outward half after this long.
inline constexpr int kStepReturnMs = 60;

// Seconds since the seat's last input, from the compositor's idle protocol (see WlrClient).
class WlrIdleTime final : public IdleTime {
public:
    explicit WlrIdleTime(WlrClient& client)
        : m_client(client) {}
    double idleSeconds() override;
    // The compositor offers an idle protocol and our connection to it holds.
    bool available() override;

private:
    WlrClient& m_client;
};

// Input may be posted while the compositor offers the wlr virtual pointer and our connection to
// it holds. wlroots asks no consent for it.
class WlrTrust final : public AccessibilityTrust {
public:
    explicit WlrTrust(WlrClient& client)
        : m_client(client) {}
    bool trusted() override;

private:
    WlrClient& m_client;
};

// Movements through a zwlr_virtual_pointer_v1 device of our own: a relative motion out and the
// opposite one back 60 ms later (standard), a relative motion of zero (zen: the compositor counts
// it as input, so idle timers restart, yet the pointer stays), a left press and release (click).
// The compositor does not tell clients where the pointer is, so the return is the exact opposite
// of the step; a step clamped at a screen edge comes back short of its start by the clamped part.
class WlrJiggler final : public Jiggler {
public:
    // `activity` may be null.
    WlrJiggler(WlrClient& client, SessionActivity* activity);
    ~WlrJiggler() override;
    void perform(JiggleMode mode, double distance, bool randomize) override;
    void declareActivity() override;

private:
    zwlr_virtual_pointer_v1* pointer();

    WlrClient& m_client;
    SessionActivity* m_activity;
    zwlr_virtual_pointer_v1* m_pointer = nullptr;
    QObject m_returns; // context of the pending return halves
};

} // namespace morvane
