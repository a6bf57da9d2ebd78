#include "GnomePorts.h"

#include "MutterIdleTime.h"
#include "MutterRemoteDesktop.h"

namespace morvane {

// Idle time and input through Mutter's own services. No overlay (a client cannot place a window
// at the pointer) and no hot key here.
void gnomeWaylandPorts(DisplayPorts& p, const PortContext& context) {
    auto desktop = std::make_unique<MutterRemoteDesktop>(context.session);
    p.idle = std::make_unique<MutterIdleTime>(context.session);
    p.trust = std::make_unique<MutterTrust>(*desktop);
    p.jiggler = std::make_unique<MutterJiggler>(*desktop, context.activity);
    p.shared = std::move(desktop);
    p.choices.idle = QStringLiteral("MutterIdleTime");
    p.choices.trust = QStringLiteral("MutterTrust");
    p.choices.jiggler = QStringLiteral("MutterJiggler");
}

} // namespace morvane
