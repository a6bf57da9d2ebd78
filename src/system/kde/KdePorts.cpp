#include "KdePorts.h"

#include "KGlobalAccelHotKey.h"
#include "KWinAppsProbe.h"
#include "KWinInput.h"
#include "PortalHotKey.h"
#include "PortalRemoteDesktop.h"
#include "WlrClient.h"
#include "WlrIdleTime.h"

namespace morvane {

// Idle time through our own Wayland connection, movements through KWin's fake input or idle
// protocol (see KWinInput.h), else the RemoteDesktop portal with the user's consent; the active
// window from a KWin script; the hot key in KDE's global shortcut service.
void kdeWaylandPorts(DisplayPorts& p, const PortContext& context) {
    auto shared = std::make_unique<QObject>();
    std::unique_ptr<WlrClient> client = WlrClient::connect();
    if (client) {
        if (client->hasIdleProtocol()) {
            p.idle = std::make_unique<WlrIdleTime>(*client);
            p.choices.idle = QStringLiteral("WlrIdleTime");
        }
        // The portal's dialog only where KWin does not let us post input unasked.
        PortalRemoteDesktop* remote = nullptr;
        if (!client->fakeInput() && PortalRemoteDesktop::available(context.session)) {
            remote = new PortalRemoteDesktop(context.session, context.defaults);
            remote->setParent(shared.get());
            p.requestPermission = [remote] { remote->requestConsent(); };
        }
        p.trust = std::make_unique<KWinTrust>(*client, remote);
        p.jiggler = std::make_unique<KWinJiggler>(*client, remote, &context.activity);
        p.choices.trust = QStringLiteral("KWinTrust");
        p.choices.jiggler = QStringLiteral("KWinJiggler");
    }
    if (KWinAppsProbe::available(context.session)) {
        p.apps = std::make_unique<KWinAppsProbe>(context.session, context.processApps());
        p.choices.apps = QStringLiteral("KWinAppsProbe");
    }
    if (KGlobalAccelHotKeyFactory::available(context.session)) {
        p.hotKeys = std::make_unique<KGlobalAccelHotKeyFactory>(context.session);
        p.choices.hotKeys = QStringLiteral("KGlobalAccelHotKeyFactory");
    } else if (PortalHotKeyFactory::available(context.session)) {
        p.hotKeys = std::make_unique<PortalHotKeyFactory>(context.session);
        p.choices.hotKeys = QStringLiteral("PortalHotKeyFactory");
    }
    if (client)
        client.release()->setParent(shared.get());
    p.shared = std::move(shared);
}

} // namespace morvane
