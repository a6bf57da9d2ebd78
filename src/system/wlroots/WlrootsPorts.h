#pragma once

#include "DisplayPorts.h"

namespace morvane {

// sway and other Wayland compositors: the factory's row for this room (see DisplayPorts.h).
void wlrootsPorts(DisplayPorts& ports, const PortContext& context);

} // namespace morvane
