#include "WlrootsPorts.h"

#include "PortalHotKey.h"
#include "PortalRemoteDesktop.h"
#include "WlrAppsProbe.h"
#include "WlrClient.h"
#include "WlrIdleTime.h"
#include "WlrInput.h"

namespace morvane {

// Through our own Wayland connection: idle time from ext-idle-notify or org_kde_kwin_idle; input
// through the wlr virtual pointer where the compositor offers it (no consent needed), else through
// the RemoteDesktop portal; sway's focused window over its IPC; the hot key through the
// GlobalShortcuts portal where the desktop's portal has it.
void wlrootsPorts(DisplayPorts& p, const PortContext& context) {
    auto shared = std::make_unique<QObject>();
    std::unique_ptr<WlrClient> client = WlrClient::connect();
    if (client && client->hasIdleProtocol()) {
        p.idle = std::make_unique<WlrIdleTime>(*client);
        p.choices.idle = QStringLiteral("WlrIdleTime");
    }
    if (client && client->virtualPointers()) {
        p.trust = std::make_unique<WlrTrust>(*client);
        p.jiggler = std::make_unique<WlrJiggler>(*client, &context.activity);
        p.choices.trust = QStringLiteral("WlrTrust");
        p.choices.jiggler = QStringLiteral("WlrJiggler");
    } else if (PortalRemoteDesktop::available(context.session)) {
        auto* remote = new PortalRemoteDesktop(context.session, context.defaults);
        remote->setParent(shared.get());
        p.trust = std::make_unique<PortalTrust>(*remote);
        p.jiggler = std::make_unique<PortalJiggler>(*remote, &context.activity, client.get());
        p.requestPermission = [remote] { remote->requestConsent(); };
        p.choices.trust = QStringLiteral("PortalTrust");
        p.choices.jiggler = QStringLiteral("PortalJiggler");
    }
    const QString swaySocket = qEnvironmentVariable("SWAYSOCK");
    if (!swaySocket.isEmpty()) {
        p.apps = std::make_unique<WlrAppsProbe>(swaySocket, context.processApps());
        p.choices.apps = QStringLiteral("WlrAppsProbe");
    }
    if (PortalHotKeyFactory::available(context.session)) {
        p.hotKeys = std::make_unique<PortalHotKeyFactory>(context.session);
        p.choices.hotKeys = QStringLiteral("PortalHotKeyFactory");
    }
    // The connection goes last, after every adapter that uses it.
    if (client)
        client.release()->setParent(shared.get());
    p.shared = std::move(shared);
}

} // namespace morvane
