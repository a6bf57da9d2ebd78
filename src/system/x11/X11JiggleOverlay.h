#pragma once

#include "Ports.h"

#include <memory>

class QWidget;

namespace morvane {

// The round icon flashed 14 px right of and 10 px below the pointer: on top of every window,
// transparent to the mouse, never focused; fully visible for 0.5 s, then fading over 0.5 s.
class X11JiggleOverlay final : public JiggleOverlay {
public:
    X11JiggleOverlay();
    ~X11JiggleOverlay() override;
    void flash() override;

    static constexpr int kSize = 40;

    // The overlay window once built (for tests); null before the first flash.
    QWidget* panel() const { return m_panel.get(); }

private:
    std::unique_ptr<QWidget> m_panel;
};

} // namespace morvane
