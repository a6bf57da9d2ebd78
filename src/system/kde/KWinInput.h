#pragma once

#include "Ports.h"

#include <QObject>

namespace morvane {

class PortalRemoteDesktop;
class SessionActivity;
class WlrClient;

// KDE Plasma on Wayland. KWin offers no wlr virtual pointer; it has three ways in, from the least
// to the most visible:
//  - org_kde_kwin_idle's simulate request declares activity on every idle timer of the seat
//    (KWin 5.27; Plasma 6 dropped the protocol). Nothing moves, nothing is asked.
//  - org_kde_kwin_fake_input posts real pointer events without a dialog, but KWin only announces
//    it to a program whose desktop entry lists it in X-KDE-Wayland-Interfaces and whose Exec names
//    the running executable by an absolute path (a symbolic link to it counts). Morvane's installed
//    desktop entries carry both; a build started from its build folder has no such entry.
//  - the RemoteDesktop portal, after the user allows it in Plasma's dialog.
// Input may be posted (trusted) while fake input is bound or the portal session runs.
class KWinTrust final : public AccessibilityTrust {
public:
    // `portal` may be null.
    KWinTrust(WlrClient& client, PortalRemoteDesktop* portal)
        : m_client(client)
        , m_portal(portal) {}
    bool trusted() override;

private:
    WlrClient& m_client;
    PortalRemoteDesktop* m_portal;
};

// Movements on KWin: a relative step out and back 60 ms later (standard) and a left press and
// release (click) through fake input, else through the portal session; zen declares activity
// through the idle protocol, and where KWin lacks it (Plasma 6) posts a motion of zero instead.
// Every movement also declares activity to the session.
class KWinJiggler final : public Jiggler {
public:
    // `portal` and `activity` may be null.
    KWinJiggler(WlrClient& client, PortalRemoteDesktop* portal, SessionActivity* activity);
    void perform(JiggleMode mode, double distance, bool randomize) override;
    void declareActivity() override;

private:
    bool fakeInputReady() const;
    bool portalReady() const;
    void motion(double dx, double dy);
    void leftClick();

    WlrClient& m_client;
    PortalRemoteDesktop* m_portal;
    SessionActivity* m_activity;
    bool m_askedOnce = false;
    QObject m_returns; // context of the pending return halves
};

} // namespace morvane
