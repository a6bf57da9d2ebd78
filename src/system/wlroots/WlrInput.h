#pragma once

#include "Ports.h"

#include <QObject>

struct zwlr_virtual_pointer_v1;

namespace morvane {

class SessionActivity;
class WlrClient;

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
