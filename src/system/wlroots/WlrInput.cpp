#include "WlrInput.h"

#include "RelativeStep.h"
#include "SessionActivity.h"
#include "WlrClient.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <QTimer>

#include <wayland-client.h>

#include <linux/input-event-codes.h>

#include <cstdint>
#include <ctime>

namespace morvane {

namespace {

// Event timestamps are milliseconds on the monotonic clock, as the compositor's own devices give.
uint32_t timestampMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

void moveBy(zwlr_virtual_pointer_v1* pointer, double dx, double dy) {
    zwlr_virtual_pointer_v1_motion(pointer, timestampMs(), wl_fixed_from_double(dx),
                                   wl_fixed_from_double(dy));
    zwlr_virtual_pointer_v1_frame(pointer);
}

void leftButton(zwlr_virtual_pointer_v1* pointer, wl_pointer_button_state state) {
    zwlr_virtual_pointer_v1_button(pointer, timestampMs(), BTN_LEFT, state);
    zwlr_virtual_pointer_v1_frame(pointer);
}

} // namespace

bool WlrTrust::trusted() {
    return m_client.virtualPointers() && m_client.alive();
}

WlrJiggler::WlrJiggler(WlrClient& client, SessionActivity* activity)
    : m_client(client)
    , m_activity(activity) {}

WlrJiggler::~WlrJiggler() {
    if (!m_pointer)
        return;
    // Freed on our side even when the compositor has gone (the request then goes nowhere).
    zwlr_virtual_pointer_v1_destroy(m_pointer);
    if (m_client.alive())
        wl_display_flush(m_client.display());
}

zwlr_virtual_pointer_v1* WlrJiggler::pointer() {
    if (!m_client.alive() || !m_client.virtualPointers())
        return nullptr;
    // One device for the life of the process: each new one would be announced to the seat's
    // clients as a new pointer.
    if (!m_pointer)
        m_pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(m_client.virtualPointers(),
                                                                           m_client.seat());
    return m_pointer;
}

void WlrJiggler::perform(JiggleMode mode, double distance, bool randomize) {
    if (zwlr_virtual_pointer_v1* device = pointer()) {
        switch (mode) {
        case JiggleMode::standard: {
            const RelativeStep out = relativeStep(distance, randomize);
            moveBy(device, out.dx, out.dy);
            QTimer::singleShot(kStepReturnMs, &m_returns, [this, out] {
                if (zwlr_virtual_pointer_v1* back = pointer()) {
                    moveBy(back, -out.dx, -out.dy);
                    wl_display_flush(m_client.display());
                }
            });
            break;
        }
        case JiggleMode::zen:
            moveBy(device, 0, 0);
            break;
        case JiggleMode::click:
            leftButton(device, WL_POINTER_BUTTON_STATE_PRESSED);
            leftButton(device, WL_POINTER_BUTTON_STATE_RELEASED);
            break;
        }
        wl_display_flush(m_client.display());
    }
    declareActivity();
}

void WlrJiggler::declareActivity() {
    m_client.simulateActivity();
    if (m_activity)
        m_activity->declare();
}

} // namespace morvane
