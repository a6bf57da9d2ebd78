#pragma once

#include "DisplayPorts.h"

namespace morvane {

// KDE Plasma on Wayland: the factory's row for this room (see DisplayPorts.h).
void kdeWaylandPorts(DisplayPorts& ports, const PortContext& context);

} // namespace morvane
