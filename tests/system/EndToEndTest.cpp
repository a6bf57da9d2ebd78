// The real engine on the real adapters: an Xvfb server with a window manager, private session and
// system buses with python-dbusmock's notification daemon and logind; the popover over it.

#include "Engine.h"
#include "FakePorts.h"
#include "LinuxPorts.h"
#include "MenuView.h"
#include "QtPorts.h"
#include "SettingsStore.h"
#include "TestServers.h"
#include "Updater.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QElapsedTimer>

#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

using namespace morvane;
using namespace morvane::test;

namespace {

// The X server's own view of its screensaver and idle time, on a connection of the test's.
struct ScreenSaverState {
    bool on = false;
    double idleSeconds = 0;
};

ScreenSaverState screenSaver() {
    ScreenSaverState out;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return out;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (XScreenSaverQueryInfo(display, DefaultRootWindow(display), info)) {
        out.on = info->state == ScreenSaverOn;
        out.idleSeconds = info->idle / 1000.0;
    }
    XFree(info);
    XCloseDisplay(display);
    return out;
}

// A movement adapter that posts nothing (until told to hand over to a real one): the session's
// idle time must show that nothing happened.
class SilentJiggler final : public Jiggler {
public:
    Jiggler* real = nullptr;
    void perform(JiggleMode mode, double distance, bool randomize) override {
        if (real)
            real->perform(mode, distance, randomize);
    }
    void declareActivity() override {
        if (real)
            real->declareActivity();
    }
};

EnginePorts withJiggler(EnginePorts p, Jiggler& jiggler) {
    return EnginePorts{p.clock,       p.idle,     p.trust,      p.screenLock, p.power,
                       p.disk,        p.audio,    p.apps,       p.cpu,        jiggler,
                       p.overlay,     p.notifier, p.sleepGuard, p.hotKeys,    p.lockEvents,
                       p.termination, p.random,   p.ticker,     p.defaults};
}

class EndToEnd : public ::testing::Test {
protected:
    PrivateBus session;
    PrivateBus system;
    MemoryDefaults defaults;
    std::unique_ptr<SettingsStore> store;

    void SetUp() override {
        ASSERT_TRUE(session.ok());
        ASSERT_TRUE(system.ok());
        store = std::make_unique<SettingsStore>(defaults);
    }

    LinuxPorts::Options options() const {
        LinuxPorts::Options o;
        o.sessionBusAddress = session.address();
        o.systemBusAddress = system.address();
        o.useAudio = false;
        return o;
    }
};

} // namespace

TEST_F(EndToEnd, ZenMovementsKeepTheScreenSaverAwayUntilSwitchedOff) {
    ASSERT_EQ(run(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("3"), QStringLiteral("0")}),
              0);
    store->update([](Prefs& p) {
        p.interval = 2;
        p.mode = JiggleMode::zen;
        p.policy = TriggerPolicy::always;
        p.randomize = false;
        // Without the inhibition only the movements can keep the screensaver away.
        p.preventDisplaySleep = false;
        p.hotkey = false;
    });
    LinuxPorts ports(*store, defaults, options());
    ASSERT_TRUE(ports.hasX11());
    Engine engine(*store, ports.ports());
    engine.start();
    run(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")});
    engine.setEnabled(true);
    ASSERT_TRUE(waitUntil([&] { return engine.jiggleCount() > 0; }, 5000));

    // Every adapter keeps its connections; a tick opens nothing.
    const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const auto filesBefore = openFiles();
    QElapsedTimer clock;
    clock.start();
    double worstIdle = 0;
    bool everOn = false;
    waitUntil(
        [&] {
            const ScreenSaverState s = screenSaver();
            worstIdle = std::max(worstIdle, s.idleSeconds);
            everOn = everOn || s.on;
            return clock.elapsed() > 15000;
        },
        20000);
    EXPECT_FALSE(everOn);
    EXPECT_LT(worstIdle, 3.0);
    EXPECT_GE(engine.jiggleCount(), 6);
    EXPECT_EQ(openFiles(), filesBefore);

    engine.setEnabled(false);
    EXPECT_TRUE(waitUntil([] { return screenSaver().on; }, 8000)) << "switched off, the screensaver comes";
    run(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")});
    run(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("off")});
}

TEST_F(EndToEnd, LogindLockBlocksMovementAndSwitchingNotifies) {
    DBusMock logind(system, {QStringLiteral("--template"), QStringLiteral("logind")},
                    QStringLiteral("org.freedesktop.login1"), true);
    ASSERT_TRUE(logind.ok());
    DBusMock notifications(session, {QStringLiteral("--template"), QStringLiteral("notification_daemon")},
                           QStringLiteral("org.freedesktop.Notifications"));
    ASSERT_TRUE(notifications.ok());

    // A session for this process, so that the monitor finds it.
    QDBusConnection control = system.connect(QStringLiteral("e2e-logind-control"));
    QDBusMessage add = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("AddSession"));
    add << QStringLiteral("c1") << QStringLiteral("seat0") << uint(getuid()) << QStringLiteral("tester")
        << true;
    const QDBusMessage added = control.call(add);
    ASSERT_EQ(added.type(), QDBusMessage::ReplyMessage) << added.errorMessage().toStdString();
    const QString sessionPath = QStringLiteral("/org/freedesktop/login1/session/c1");
    ASSERT_TRUE(logind.addMethod(QStringLiteral("/org/freedesktop/login1"),
                                 QStringLiteral("org.freedesktop.login1.Manager"),
                                 QStringLiteral("GetSessionByPID"), QStringLiteral("u"), QStringLiteral("o"),
                                 QStringLiteral("ret = dbus.ObjectPath('%1')").arg(sessionPath)));

    LinuxPorts ports(*store, defaults, options());
    Engine engine(*store, ports.ports());
    engine.start();
    engine.toggle(true);
    EXPECT_FALSE(engine.blockingReason());

    ASSERT_TRUE(logind.setProperty(sessionPath, QStringLiteral("org.freedesktop.login1.Session"),
                                   QStringLiteral("LockedHint"), true));
    EXPECT_TRUE(
        waitUntil([&] { return engine.blockingReason() == QStringLiteral("Pausado: pantalla bloqueada"); }));

    ASSERT_TRUE(waitUntil(
        [&] { return notifications.calls(QStringLiteral("/org/freedesktop/Notifications")).size() >= 1; }));
    const auto calls = notifications.calls(QStringLiteral("/org/freedesktop/Notifications"));
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].first, "Notify");
    EXPECT_EQ(calls[0].second.value(0).toString(), "Morvane");
    EXPECT_EQ(calls[0].second.value(3).toString(), "Morvane activado");
    EXPECT_EQ(calls[0].second.value(4).toString(), "Con el atajo de teclado");
    QDBusConnection::disconnectFromBus(control.name());
}

TEST_F(EndToEnd, TheXServersIdleTimeJudgesEveryMovement) {
    DBusMock notifications(session, {QStringLiteral("--template"), QStringLiteral("notification_daemon")},
                           QStringLiteral("org.freedesktop.Notifications"));
    ASSERT_TRUE(notifications.ok());
    store->update([](Prefs& p) {
        p.interval = 2;
        p.policy = TriggerPolicy::always;
        p.randomize = false;
        p.preventDisplaySleep = false;
        p.hotkey = false;
    });
    LinuxPorts ports(*store, defaults, options());
    ASSERT_TRUE(ports.hasX11());
    const auto verdict = [](const Engine& e) { return e.activityCheck().verdict(); };
    const auto readBackAfter = [](const Engine& e, qint64 count) {
        return e.jiggleCount() > count && e.activityCheck().recent().back().readAt.has_value();
    };

    // The real movements, standard and zen: registered from the first or second one on.
    for (const JiggleMode mode : {JiggleMode::standard, JiggleMode::zen}) {
        store->update([mode](Prefs& p) { p.mode = mode; });
        Engine engine(*store, ports.ports());
        engine.start();
        engine.setEnabled(true);
        ASSERT_TRUE(waitUntil([&] { return verdict(engine) == Verdict::verified; }, 10000));
        EXPECT_LE(engine.jiggleCount(), 2) << toText(mode).toStdString();
    }

    // Behind the real idle source, a movement adapter that posts nothing: unverified after three,
    // the popover's banner, one notification.
    SilentJiggler silent;
    Engine engine(*store, withJiggler(ports.ports(), silent));
    Updater updater(
        *store, ports.ports().notifier, [](const QString&) {},
        [] {
            UpdaterOptions options;
            options.feedUrl = QUrl(QStringLiteral("https://127.0.0.1:9/appcast.json"));
            return options;
        }());
    SystemClock clock;
    MenuView popover(engine, *store, updater, clock, MenuView::defaultQuick(), AppActions{});
    popover.show();
    QWidget* banner = popover.findChild<QWidget*>(QStringLiteral("activityBanner"));
    engine.start();
    engine.setEnabled(true);
    ASSERT_TRUE(waitUntil([&] { return verdict(engine) == Verdict::unverified; }, 15000));
    EXPECT_LE(engine.jiggleCount(), 4);
    EXPECT_TRUE(banner->isVisible());

    // The user's own input right before the movements proves nothing either way. It starts just
    // after a readback, so that no movement is waiting for its read when it comes.
    ASSERT_TRUE(waitUntil([&, count = engine.jiggleCount()] { return readBackAfter(engine, count); }, 8000));
    const qint64 before = engine.jiggleCount();
    waitUntil(
        [&] {
            run(QStringLiteral("xdotool"), {QStringLiteral("mousemove_relative"), QStringLiteral("--"),
                                            QStringLiteral("1"), QStringLiteral("1")});
            return readBackAfter(engine, before + 1);
        },
        15000);
    QList<Readback::Outcome> outcomes;
    for (const Readback& r : engine.activityCheck().recent())
        outcomes << r.outcome;
    EXPECT_TRUE(outcomes.contains(Readback::Outcome::userPresent));
    EXPECT_FALSE(outcomes.contains(Readback::Outcome::registered));
    EXPECT_EQ(verdict(engine), Verdict::unverified);

    // A real movement later clears it, and the banner goes; still one notification.
    silent.real = &ports.ports().jiggler;
    EXPECT_TRUE(waitUntil([&] { return verdict(engine) == Verdict::verified; }, 10000));
    EXPECT_TRUE(waitUntil([&] { return banner->isHidden(); }));
    const auto notes = notifications.calls(QStringLiteral("/org/freedesktop/Notifications"));
    ASSERT_EQ(notes.size(), 1);
    EXPECT_EQ(notes[0].second.value(3).toString(), QStringLiteral("La sesión no registra los movimientos"));

    // Without an idle source (the null adapters) nothing can be told, and no banner says otherwise.
    LinuxPorts::Options noX = options();
    noX.useX11 = false;
    LinuxPorts blind(*store, defaults, noX);
    Engine unknowing(*store, blind.ports());
    MenuView blindPopover(unknowing, *store, updater, clock, MenuView::defaultQuick(), AppActions{});
    blindPopover.show();
    unknowing.start();
    unknowing.setEnabled(true);
    ASSERT_TRUE(waitUntil([&] { return readBackAfter(unknowing, 2); }, 12000));
    EXPECT_EQ(verdict(unknowing), Verdict::unknown);
    EXPECT_TRUE(unknowing.activityCheck().noIdleSource());
    EXPECT_TRUE(blindPopover.findChild<QWidget*>(QStringLiteral("activityBanner"))->isHidden());
}
