#include "KWinInput.h"

#include "PortalRemoteDesktop.h"
#include "RelativeStep.h"
#include "SessionActivity.h"
#include "WlrClient.h"
#include "fake-input-client-protocol.h"

#include <QTimer>

#include <wayland-client.h>

#include <linux/input-event-codes.h>

namespace morvane {

bool KWinTrust::trusted() {
    if (m_client.fakeInput() && m_client.alive())
        return true;
    return m_portal && m_portal->state() == PortalRemoteDesktop::State::started;
}

KWinJiggler::KWinJiggler(WlrClient& client, PortalRemoteDesktop* portal, SessionActivity* activity)
    : m_client(client)
    , m_portal(portal)
    , m_activity(activity) {}

bool KWinJiggler::fakeInputReady() const {
    return m_client.fakeInput() && m_client.alive();
}

bool KWinJiggler::portalReady() const {
    return m_portal && m_portal->state() == PortalRemoteDesktop::State::started;
}

void KWinJiggler::motion(double dx, double dy) {
    if (fakeInputReady()) {
        org_kde_kwin_fake_input_pointer_motion(m_client.fakeInput(), wl_fixed_from_double(dx),
                                               wl_fixed_from_double(dy));
        wl_display_flush(m_client.display());
    } else if (portalReady()) {
        m_portal->motion(dx, dy);
    }
}

void KWinJiggler::leftClick() {
    if (fakeInputReady()) {
        org_kde_kwin_fake_input* input = m_client.fakeInput();
        org_kde_kwin_fake_input_button(input, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
        org_kde_kwin_fake_input_button(input, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
        wl_display_flush(m_client.display());
    } else if (portalReady()) {
        m_portal->leftButton(true);
        m_portal->leftButton(false);
    }
}

void KWinJiggler::perform(JiggleMode mode, double distance, bool randomize) {
    switch (mode) {
    case JiggleMode::standard: {
        const RelativeStep out = relativeStep(distance, randomize);
        motion(out.dx, out.dy);
        QTimer::singleShot(kStepReturnMs, &m_returns, [this, out] { motion(-out.dx, -out.dy); });
        break;
    }
    case JiggleMode::zen:
        // The declaration below is all zen needs where KWin has the idle protocol; elsewhere a
        // motion of zero is input that moves nothing.
        if (!m_client.canSimulateActivity()) {
            if (!fakeInputReady() && !portalReady() && m_portal && !m_askedOnce) {
                m_askedOnce = true;
                m_portal->requestConsent();
            }
            motion(0, 0);
        }
        break;
    case JiggleMode::click:
        leftClick();
        break;
    }
    declareActivity();
}

void KWinJiggler::declareActivity() {
    m_client.simulateActivity();
    if (m_activity)
        m_activity->declare();
}

} // namespace morvane
