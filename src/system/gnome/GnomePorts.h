#pragma once

#include "DisplayPorts.h"

namespace morvane {

// GNOME on Wayland: the factory's row for this room (see DisplayPorts.h).
void gnomeWaylandPorts(DisplayPorts& ports, const PortContext& context);

} // namespace morvane
