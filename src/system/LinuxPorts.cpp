#include "LinuxPorts.h"

#include "DBusNotifier.h"
#include "KGlobalAccelHotKey.h"
#include "KWinAppsProbe.h"
#include "KWinInput.h"
#include "MutterIdleTime.h"
#include "MutterRemoteDesktop.h"
#include "NullPorts.h"
#include "PortalHotKey.h"
#include "PortalRemoteDesktop.h"
#include "Probes.h"
#include "QtPorts.h"
#include "ScreenLockMonitor.h"
#include "SessionActivity.h"
#include "SessionSleepGuard.h"
#include "SettingsStore.h"
#include "WlrAppsProbe.h"
#include "WlrClient.h"
#include "WlrIdleTime.h"
#include "WlrInput.h"
#include "X11Display.h"
#include "X11HotKey.h"
#include "X11Input.h"
#include "X11JiggleOverlay.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>

namespace morvane {

namespace {

// Without adapters for the display session no input can be posted; a movement still declares
// activity to the session.
class SessionOnlyJiggler final : public Jiggler {
public:
    explicit SessionOnlyJiggler(SessionActivity& activity)
        : m_activity(activity) {}
    void perform(JiggleMode, double, bool) override { declareActivity(); }
    void declareActivity() override { m_activity.declare(); }

private:
    SessionActivity& m_activity;
};

// Running applications, and never a frontmost one: Wayland tells no client which window has the
// focus, and XWayland's active window is only right while an X client has it.
class NoFrontmostAppsProbe final : public AppsProbe {
public:
    explicit NoFrontmostAppsProbe(std::unique_ptr<AppsProbe> running)
        : m_running(std::move(running)) {}
    std::optional<QString> runningApp(const QString& list) override { return m_running->runningApp(list); }
    std::optional<QString> frontmostAppName() override { return std::nullopt; }

private:
    std::unique_ptr<AppsProbe> m_running;
};

QDBusConnection connectBus(const QString& address, QDBusConnection::BusType fallback, const QString& name) {
    if (address.isEmpty())
        return fallback == QDBusConnection::SessionBus ? QDBusConnection::sessionBus()
                                                       : QDBusConnection::systemBus();
    // Named by the address too: Qt hands back an existing connection of the same name, which may
    // lead to an earlier bus.
    return QDBusConnection::connectToBus(address, name + QLatin1Char(' ') + address);
}

bool onXcb() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// What the per-session builders get to work with.
struct PortContext {
    const LinuxPorts::Options& options;
    QDBusConnection session;
    SessionActivity& activity;
    DefaultsStore& defaults;
};

// The ports that reach the display server: the only ones that differ between kinds of session.
struct DisplayPorts {
    std::unique_ptr<QObject> shared; // what several of the adapters below use; destroyed last
    std::unique_ptr<IdleTime> idle;
    std::unique_ptr<AccessibilityTrust> trust;
    std::unique_ptr<Jiggler> jiggler;
    std::unique_ptr<AppsProbe> apps;
    std::unique_ptr<JiggleOverlay> overlay;
    std::unique_ptr<HotKeyFactory> hotKeys;
    bool x11 = false;
    LinuxPorts::Choices choices;
    std::function<void()> requestPermission; // the desktop's consent flow, where it has one
};

// A session whose display server we cannot reach: nothing but activity declarations.
DisplayPorts sessionOnlyPorts(const PortContext& context, bool wayland) {
    DisplayPorts p;
    p.idle = std::make_unique<NullIdleTime>();
    p.trust = std::make_unique<NullTrust>();
    p.jiggler = std::make_unique<SessionOnlyJiggler>(context.activity);
    p.overlay = std::make_unique<NullOverlay>();
    p.hotKeys = std::make_unique<NullHotKeyFactory>();
    p.choices = {QStringLiteral("NullIdleTime"),       QStringLiteral("NullTrust"),
                 QStringLiteral("SessionOnlyJiggler"), QStringLiteral("NullAppsProbe"),
                 QStringLiteral("NullOverlay"),        QStringLiteral("NullHotKeyFactory")};
    if (wayland) {
        // The user's processes still tell which applications run.
        p.apps = std::make_unique<NoFrontmostAppsProbe>(std::make_unique<X11AppsProbe>(context.options.root));
        p.choices.apps = QStringLiteral("NoFrontmostAppsProbe");
    } else {
        p.apps = std::make_unique<NullAppsProbe>();
    }
    return p;
}

DisplayPorts x11Ports(const PortContext& context) {
    if (!X11Display())
        return sessionOnlyPorts(context, false);
    DisplayPorts p;
    p.x11 = true;
    p.idle = std::make_unique<X11IdleTime>();
    p.trust = std::make_unique<X11Trust>();
    p.jiggler = std::make_unique<X11Jiggler>(&context.activity);
    p.apps = std::make_unique<X11AppsProbe>(context.options.root);
    p.choices = {QStringLiteral("X11IdleTime"), QStringLiteral("X11Trust"),
                 QStringLiteral("X11Jiggler"),  QStringLiteral("X11AppsProbe"),
                 QStringLiteral("NullOverlay"), QStringLiteral("NullHotKeyFactory")};
    // Windows need a QApplication; key grabs need Qt's own xcb connection.
    if (context.options.useOverlay && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        p.overlay = std::make_unique<X11JiggleOverlay>();
        p.choices.overlay = QStringLiteral("X11JiggleOverlay");
    } else {
        p.overlay = std::make_unique<NullOverlay>();
    }
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && onXcb()) {
        p.hotKeys = std::make_unique<X11HotKeyFactory>();
        p.choices.hotKeys = QStringLiteral("X11HotKeyFactory");
    } else {
        p.hotKeys = std::make_unique<NullHotKeyFactory>();
    }
    return p;
}

// GNOME on Wayland: idle time and input through Mutter's own services. No overlay (a client
// cannot place a window at the pointer) and no hot key here.
DisplayPorts gnomeWaylandPorts(const PortContext& context) {
    DisplayPorts p = sessionOnlyPorts(context, true);
    auto desktop = std::make_unique<MutterRemoteDesktop>(context.session);
    p.idle = std::make_unique<MutterIdleTime>(context.session);
    p.trust = std::make_unique<MutterTrust>(*desktop);
    p.jiggler = std::make_unique<MutterJiggler>(*desktop, context.activity);
    p.shared = std::move(desktop);
    p.choices.idle = QStringLiteral("MutterIdleTime");
    p.choices.trust = QStringLiteral("MutterTrust");
    p.choices.jiggler = QStringLiteral("MutterJiggler");
    return p;
}

// wlroots and other Wayland compositors, through our own Wayland connection: idle time from
// ext-idle-notify or org_kde_kwin_idle; input through the wlr virtual pointer where the compositor
// offers it (no consent needed), else through the RemoteDesktop portal; sway's focused window over
// its IPC; the hot key through the GlobalShortcuts portal where the desktop's portal has it.
DisplayPorts waylandPorts(const PortContext& context) {
    DisplayPorts p = sessionOnlyPorts(context, true);
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
        p.apps =
            std::make_unique<WlrAppsProbe>(swaySocket, std::make_unique<X11AppsProbe>(context.options.root));
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
    return p;
}

// KDE Plasma on Wayland: idle time through our own Wayland connection, movements through KWin's
// fake input or idle protocol (see KWinInput.h), else the RemoteDesktop portal with the user's
// consent; the active window from a KWin script; the hot key in KDE's global shortcut service.
DisplayPorts kdeWaylandPorts(const PortContext& context) {
    DisplayPorts p = sessionOnlyPorts(context, true);
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
        p.apps = std::make_unique<KWinAppsProbe>(context.session,
                                                 std::make_unique<X11AppsProbe>(context.options.root));
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
    return p;
}

// The one place that maps a kind of session to its adapters.
DisplayPorts choosePorts(SessionKind kind, const PortContext& context) {
    switch (kind) {
    case SessionKind::x11:
        return x11Ports(context);
    case SessionKind::gnomeWayland:
        return gnomeWaylandPorts(context);
    case SessionKind::kdeWayland:
        return kdeWaylandPorts(context);
    case SessionKind::wlrootsWayland:
    case SessionKind::otherWayland:
        return waylandPorts(context);
    case SessionKind::none:
        break;
    }
    return sessionOnlyPorts(context, false);
}

SessionKind recognise(const LinuxPorts::Options& options, const SessionEnvironment& environment) {
    const SessionKind kind = options.sessionKind ? *options.sessionKind : sessionKind(environment);
    return kind == SessionKind::x11 && !options.useX11 ? SessionKind::none : kind;
}

} // namespace

struct LinuxPorts::Impl {
    Impl(SettingsStore& store, DefaultsStore& defaults, const Options& options)
        : defaults(defaults)
        , session(connectBus(options.sessionBusAddress, QDBusConnection::SessionBus,
                             QStringLiteral("morvane-session")))
        , system(connectBus(options.systemBusAddress, QDBusConnection::SystemBus,
                            QStringLiteral("morvane-system")))
        , environment(readSessionEnvironment(session))
        , kind(recognise(options, environment))
        , activity(session)
        , notifier(store, session)
        , sleepGuard(session, system)
        , lock(system, session)
        , power(options.root)
        , disk(options.root)
        , cpu(options.root)
        , display(choosePorts(kind, PortContext{options, session, activity, defaults})) {
        if (options.useAudio) {
            // Connected only while the audio condition is set: the engine asks nothing else of the
            // sound server, and an idle connection still costs a thread and a socket.
            auto pulse = std::make_unique<PulseAudioProbe>(std::chrono::seconds(3), store.p().reqAudio);
            PulseAudioProbe* probe = pulse.get();
            QObject::connect(&store, &SettingsStore::changed, &audioFollower,
                             [probe, &store] { probe->setActive(store.p().reqAudio); });
            audio = std::move(pulse);
        } else {
            audio = std::make_unique<NullAudioProbe>();
        }
        const Choices& c = display.choices;
        qInfo().noquote() << QStringLiteral(
                                 "morvane: %1 session; idle time: %2, input: %3, input permission: %4, "
                                 "running apps: %5, overlay: %6, hot key: %7")
                                 .arg(sessionKindName(kind), c.idle, c.jiggler, c.trust, c.apps, c.overlay,
                                      c.hotKeys);
    }

    DefaultsStore& defaults;
    QDBusConnection session;
    QDBusConnection system;
    SessionEnvironment environment;
    SessionKind kind;

    SystemClock clock;
    QtTicker ticker;
    QtTermination termination;
    StdRandomSource random;
    SessionActivity activity;
    DBusNotifier notifier;
    SessionSleepGuard sleepGuard;
    ScreenLockMonitor lock;
    SysfsPowerProbe power;
    MountDiskProbe disk;
    ProcStatCpuMeter cpu;
    DisplayPorts display;
    std::unique_ptr<AudioProbe> audio;
    QObject audioFollower; // goes first, with the connection that reaches `audio`
};

LinuxPorts::LinuxPorts(SettingsStore& store, DefaultsStore& defaults)
    : LinuxPorts(store, defaults, Options{}) {}

LinuxPorts::LinuxPorts(SettingsStore& store, DefaultsStore& defaults, const Options& options)
    : d(std::make_unique<Impl>(store, defaults, options)) {}

LinuxPorts::~LinuxPorts() = default;

EnginePorts LinuxPorts::ports() {
    DisplayPorts& p = d->display;
    return EnginePorts{d->clock,       *p.idle,     *p.trust,      d->lock,    d->power,
                       d->disk,        *d->audio,   *p.apps,       d->cpu,     *p.jiggler,
                       *p.overlay,     d->notifier, d->sleepGuard, *p.hotKeys, d->lock,
                       d->termination, d->random,   d->ticker,     d->defaults};
}

bool LinuxPorts::requestInputPermission() {
    if (!d->display.requestPermission)
        return false;
    d->display.requestPermission();
    return true;
}

SessionKind LinuxPorts::sessionKind() const {
    return d->kind;
}

const SessionEnvironment& LinuxPorts::environment() const {
    return d->environment;
}

LinuxPorts::Choices LinuxPorts::choices() const {
    return d->display.choices;
}

SessionSleepGuard& LinuxPorts::sleepGuard() {
    return d->sleepGuard;
}

bool LinuxPorts::hasX11() const {
    return d->display.x11;
}

bool LinuxPorts::hasSessionBus() const {
    return d->session.isConnected();
}

bool LinuxPorts::hasSystemBus() const {
    return d->system.isConnected();
}

} // namespace morvane
