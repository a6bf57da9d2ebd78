#include "LinuxPorts.h"

#include "DBusNotifier.h"
#include "NullPorts.h"
#include "Probes.h"
#include "QtPorts.h"
#include "ScreenLockMonitor.h"
#include "SessionActivity.h"
#include "SessionSleepGuard.h"
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

// Without an X server no input can be posted; a movement still declares activity to the session.
class SessionOnlyJiggler final : public Jiggler {
public:
    explicit SessionOnlyJiggler(SessionActivity& activity)
        : m_activity(activity) {}
    void perform(JiggleMode, double, bool) override { declareActivity(); }
    void declareActivity() override { m_activity.declare(); }

private:
    SessionActivity& m_activity;
};

QDBusConnection connectBus(const QString& address, QDBusConnection::BusType fallback, const QString& name) {
    if (address.isEmpty())
        return fallback == QDBusConnection::SessionBus ? QDBusConnection::sessionBus()
                                                       : QDBusConnection::systemBus();
    return QDBusConnection::connectToBus(address, name);
}

bool onXcb() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

struct LinuxPorts::Impl {
    Impl(SettingsStore& store, DefaultsStore& defaults, const Options& options)
        : defaults(defaults)
        , session(connectBus(options.sessionBusAddress, QDBusConnection::SessionBus,
                             QStringLiteral("morvane-session")))
        , system(connectBus(options.systemBusAddress, QDBusConnection::SystemBus,
                            QStringLiteral("morvane-system")))
        , activity(session)
        , notifier(store, session)
        , sleepGuard(session)
        , lock(system, session)
        , power(options.root)
        , disk(options.root)
        , cpu(options.root) {
        x11 = options.useX11 && bool(X11Display());
        if (x11) {
            idle = std::make_unique<X11IdleTime>();
            trust = std::make_unique<X11Trust>();
            jiggler = std::make_unique<X11Jiggler>(&activity);
            apps = std::make_unique<X11AppsProbe>(options.root);
        } else {
            idle = std::make_unique<NullIdleTime>();
            trust = std::make_unique<NullTrust>();
            jiggler = std::make_unique<SessionOnlyJiggler>(activity);
            apps = std::make_unique<NullAppsProbe>();
        }
        // Windows need a QApplication; key grabs need Qt's own xcb connection.
        if (x11 && options.useOverlay && qobject_cast<QApplication*>(QCoreApplication::instance()))
            overlay = std::make_unique<X11JiggleOverlay>();
        else
            overlay = std::make_unique<NullOverlay>();
        if (x11 && qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && onXcb())
            hotKeys = std::make_unique<X11HotKeyFactory>();
        else
            hotKeys = std::make_unique<NullHotKeyFactory>();
        if (options.useAudio)
            audio = std::make_unique<PulseAudioProbe>();
        else
            audio = std::make_unique<NullAudioProbe>();
    }

    DefaultsStore& defaults;
    QDBusConnection session;
    QDBusConnection system;
    bool x11 = false;

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
    std::unique_ptr<IdleTime> idle;
    std::unique_ptr<AccessibilityTrust> trust;
    std::unique_ptr<Jiggler> jiggler;
    std::unique_ptr<JiggleOverlay> overlay;
    std::unique_ptr<HotKeyFactory> hotKeys;
    std::unique_ptr<AudioProbe> audio;
    std::unique_ptr<AppsProbe> apps;
};

LinuxPorts::LinuxPorts(SettingsStore& store, DefaultsStore& defaults)
    : LinuxPorts(store, defaults, Options{}) {}

LinuxPorts::LinuxPorts(SettingsStore& store, DefaultsStore& defaults, const Options& options)
    : d(std::make_unique<Impl>(store, defaults, options)) {}

LinuxPorts::~LinuxPorts() = default;

EnginePorts LinuxPorts::ports() {
    return EnginePorts{d->clock,       *d->idle,    *d->trust,     d->lock,     d->power,
                       d->disk,        *d->audio,   *d->apps,      d->cpu,      *d->jiggler,
                       *d->overlay,    d->notifier, d->sleepGuard, *d->hotKeys, d->lock,
                       d->termination, d->random,   d->ticker,     d->defaults};
}

bool LinuxPorts::hasX11() const {
    return d->x11;
}

bool LinuxPorts::hasSessionBus() const {
    return d->session.isConnected();
}

bool LinuxPorts::hasSystemBus() const {
    return d->system.isConnected();
}

} // namespace morvane
