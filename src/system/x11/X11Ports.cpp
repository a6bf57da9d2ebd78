#include "X11Ports.h"

#include "X11Display.h"
#include "X11HotKey.h"
#include "X11Input.h"
#include "X11JiggleOverlay.h"

#include <QApplication>
#include <QGuiApplication>

namespace morvane {

namespace {

bool onXcb() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

void x11Ports(DisplayPorts& p, const PortContext& context) {
    if (!X11Display())
        return;
    p.x11 = true;
    p.idle = std::make_unique<X11IdleTime>();
    p.trust = std::make_unique<X11Trust>();
    p.jiggler = std::make_unique<X11Jiggler>(&context.activity);
    p.apps = context.processApps();
    p.choices = {QStringLiteral("X11IdleTime"), QStringLiteral("X11Trust"),
                 QStringLiteral("X11Jiggler"),  QStringLiteral("X11AppsProbe"),
                 QStringLiteral("NullOverlay"), QStringLiteral("NullHotKeyFactory")};
    // Windows need a QApplication; key grabs need Qt's own xcb connection.
    if (context.useOverlay && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        p.overlay = std::make_unique<X11JiggleOverlay>();
        p.choices.overlay = QStringLiteral("X11JiggleOverlay");
    }
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && onXcb()) {
        p.hotKeys = std::make_unique<X11HotKeyFactory>();
        p.choices.hotKeys = QStringLiteral("X11HotKeyFactory");
    }
}

} // namespace morvane
