#pragma once

#include "Ports.h"

namespace morvane {

// Ctrl+Alt+Super+J grabbed on the root windows of Qt's own xcb connection, whatever the state of
// NumLock and CapsLock. Needs a QGuiApplication on the xcb platform; elsewhere the keys it makes
// never register. Holding the keys runs the action once: key repeats are ignored.
class X11HotKeyFactory final : public HotKeyFactory {
public:
    std::unique_ptr<HotKey> create(std::function<void()> action) override;
};

} // namespace morvane
