#include "LinuxPorts.h"

#include "DBusNotifier.h"
#include "GnomePorts.h"
#include "KdePorts.h"
#include "NullPorts.h"
#include "Probes.h"
#include "QtPorts.h"
#include "ScreenLockMonitor.h"
#include "SessionActivity.h"
#include "SessionSleepGuard.h"
#include "SettingsStore.h"
#include "WlrootsPorts.h"
#include "X11Ports.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <array>

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
        p.apps = std::make_unique<NoFrontmostAppsProbe>(context.processApps());
        p.choices.apps = QStringLiteral("NoFrontmostAppsProbe");
    } else {
        p.apps = std::make_unique<NullAppsProbe>();
    }
    return p;
}

// The desktops, one row per room: the kind of session it serves and its builder.
struct Desktop {
    SessionKind kind;
    bool wayland;
    DesktopBuilder build;
};
const std::array kDesktops{
    Desktop{SessionKind::x11, false, x11Ports},
    Desktop{SessionKind::gnomeWayland, true, gnomeWaylandPorts},
    Desktop{SessionKind::kdeWayland, true, kdeWaylandPorts},
    Desktop{SessionKind::wlrootsWayland, true, wlrootsPorts},
    Desktop{SessionKind::otherWayland, true, wlrootsPorts},
};

// The one place that maps a kind of session to its adapters.
DisplayPorts choosePorts(SessionKind kind, const PortContext& context) {
    for (const Desktop& desktop : kDesktops) {
        if (desktop.kind == kind) {
            DisplayPorts p = sessionOnlyPorts(context, desktop.wayland);
            desktop.build(p, context);
            return p;
        }
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
        , display(choosePorts(
              kind, PortContext{session, activity, defaults, options.useOverlay,
                                [root = options.root] { return std::make_unique<X11AppsProbe>(root); }})) {
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
