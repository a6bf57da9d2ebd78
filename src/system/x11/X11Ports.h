#pragma once

#include "DisplayPorts.h"

namespace morvane {

// X11 sessions: the factory's row for this room (see DisplayPorts.h).
void x11Ports(DisplayPorts& ports, const PortContext& context);

} // namespace morvane
