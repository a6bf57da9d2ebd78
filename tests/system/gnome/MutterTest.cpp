// The GNOME Wayland adapters against a real headless Mutter on a private bus: idle time from the
// idle monitor, input through remote-desktop sessions (seen by a Wayland client of the test's),
// the session's life, the real engine keeping the compositor's idle time down, and the real
// program judging its movements by Mutter's idle time, with remote desktop offered or refused.

#include "Engine.h"
#include "FakePorts.h"
#include "IdleWatchScenario.h"
#include "LinuxPorts.h"
#include "MutterIdleTime.h"
#include "MutterRemoteDesktop.h"
#include "SessionActivity.h"
#include "SettingsStore.h"
#include "TestServers.h"
#include "WaylandTestClient.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRectF>

#include <linux/input-event-codes.h>

#include <cmath>

using namespace morvane;
using namespace morvane::test;

namespace {

class Mutter : public ::testing::Test {
protected:
    PrivateBus bus;
    std::unique_ptr<HeadlessMutter> mutter;
    QDBusConnection connection{QString()};

    void SetUp() override {
        ASSERT_TRUE(bus.ok());
        mutter = std::make_unique<HeadlessMutter>(bus);
        ASSERT_TRUE(mutter->ok()) << "mutter --headless did not come up";
        connection = bus.connect(QStringLiteral("morvane-under-test"));
    }

    void TearDown() override {
        QDBusConnection::disconnectFromBus(connection.name());
        mutter.reset();
    }

    // Waits until the compositor has counted the session idle for longer than `ms`.
    bool idleFor(qint64 ms, int timeoutMs = 6000) {
        return waitUntil([&] { return mutter->idletimeMs() > ms; }, timeoutMs);
    }

    // The pointer events the client saw from `from` on, of one kind.
    static std::vector<PointerClient::Event> eventsSince(const PointerClient& client, std::size_t from,
                                                         PointerClient::Event::Kind kind) {
        std::vector<PointerClient::Event> out;
        for (std::size_t i = from; i < client.events().size(); ++i)
            if (client.events()[i].kind == kind)
                out.push_back(client.events()[i]);
        return out;
    }
};

// Waits until the pointer rests: the compositor saw no input for a while, and the client no change
// meanwhile. Answers where it rests.
std::optional<QPointF> restingPointer(PointerClient& client, const HeadlessMutter& mutter) {
    QElapsedTimer unchanged;
    unchanged.start();
    std::optional<QPointF> last;
    const bool rested = waitUntil(
        [&] {
            client.pump();
            if (client.position() != last) {
                last = client.position();
                unchanged.restart();
            }
            return last && unchanged.elapsed() > 300 && mutter.idletimeMs() > 300;
        },
        15000);
    return rested ? last : std::nullopt;
}

// Brings the pointer over the client's window, near `target` and well inside the screen, and
// answers where it rests. The seat gets its pointer with the session's virtual device, and the
// client asks for it then, so the first position it hears may lag behind; Mutter also
// accelerates a motion that closely follows another. A motion by (0, 0) after the pointer rests
// makes Mutter tell the exact place. On a loaded machine the window may map, or the client may
// get its pointer, only after that first motion, and Mutter says where the pointer is only when it
// moves: the motion is repeated until the client has heard it.
std::optional<QPointF> pointerNear(PointerClient& client, MutterRemoteDesktop& desktop,
                                   const HeadlessMutter& mutter, QPointF target) {
    QElapsedTimer sinceNudge;
    const bool heard = waitUntil(
        [&] {
            client.pump();
            if (client.position())
                return true;
            if (!sinceNudge.isValid() || sinceNudge.elapsed() > 500) {
                desktop.motion(0, 0);
                sinceNudge.start();
            }
            return false;
        },
        15000);
    if (!heard || !restingPointer(client, mutter))
        return std::nullopt;
    desktop.motion(-5000, -5000);
    desktop.motion(target.x(), target.y());
    if (!restingPointer(client, mutter))
        return std::nullopt;
    desktop.motion(0, 0);
    const std::optional<QPointF> at = restingPointer(client, mutter);
    if (!at || !QRectF(100, 100, 1080, 600).contains(*at))
        return std::nullopt;
    return at;
}

// The factory on private buses, without sound or overlay.
LinuxPorts::Options privateBuses(const PrivateBus& session, const PrivateBus& system,
                                 std::optional<SessionKind> kind) {
    LinuxPorts::Options options;
    options.sessionBusAddress = session.address();
    options.systemBusAddress = system.address();
    options.useAudio = false;
    options.useOverlay = false;
    options.sessionKind = kind;
    return options;
}

// Sets (or, given nothing, unsets) an environment variable for its lifetime.
class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, std::optional<QByteArray> value)
        : m_name(name)
        , m_saved(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
        set(value);
    }
    ~EnvironmentOverride() { set(m_saved); }

private:
    void set(const std::optional<QByteArray>& value) const {
        if (value)
            qputenv(m_name, *value);
        else
            qunsetenv(m_name);
    }
    const char* m_name;
    std::optional<QByteArray> m_saved;
};

// A window of the test's with the pointer resting over it, and the movements under test.
struct InputRig {
    PointerClient client;
    MutterRemoteDesktop desktop;
    SessionActivity activity;
    MutterJiggler jiggler{desktop, activity};
    std::optional<QPointF> start;

    InputRig(const HeadlessMutter& mutter, const QDBusConnection& connection, QPointF target)
        : client(mutter.socketPath())
        , desktop(connection)
        , activity(connection) {
        if (client.ok())
            start = pointerNear(client, desktop, mutter, target);
    }
};

} // namespace

TEST_F(Mutter, IdleTimeFollowsTheCompositorFromItsWatches) {
    MutterIdleTime idle(connection);
    ASSERT_TRUE(waitUntil([&] { return idle.following(); }));
    MutterRemoteDesktop nudger(connection);

    ASSERT_TRUE(idleFor(2500));
    EXPECT_NEAR(idle.idleSeconds(), mutter->idletimeMs() / 1000.0, 1.1);

    nudger.motion(0, 0);
    EXPECT_TRUE(waitUntil([&] { return idle.idleSeconds() < 1.0; })) << "input seen as input";
    // Once the idle watch fires, the count starts from the input, not from the watch.
    ASSERT_TRUE(waitUntil([&] { return idle.idleSeconds() >= 1.0; }));
    EXPECT_NEAR(idle.idleSeconds(), mutter->idletimeMs() / 1000.0, 0.5);
    ASSERT_TRUE(idleFor(3000));
    EXPECT_NEAR(idle.idleSeconds(), mutter->idletimeMs() / 1000.0, 0.5);

    // A new Mutter knows none of the old watches: they are set up again.
    mutter->stop();
    EXPECT_TRUE(waitUntil([&] { return !idle.following(); }));
    EXPECT_EQ(idle.idleSeconds(), 0);
    ASSERT_TRUE(mutter->start());
    EXPECT_TRUE(waitUntil([&] { return idle.following(); }));
    ASSERT_TRUE(idleFor(2000));
    EXPECT_NEAR(idle.idleSeconds(), mutter->idletimeMs() / 1000.0, 1.1);
    nudger.motion(0, 0);
    EXPECT_TRUE(waitUntil([&] { return idle.idleSeconds() < 1.0; }));
}

TEST_F(Mutter, StandardMovementStepsOutAndComesBack) {
    InputRig rig(*mutter, connection, QPointF(640, 400));
    ASSERT_TRUE(rig.start) << "no pointer over the test's window";
    PointerClient& client = rig.client;
    const QPointF start = *rig.start;

    struct Case {
        double distance;
        bool randomize;
        double step; // the expected length of the step out
    };
    for (const Case& c : {Case{4, false, 4}, Case{0.2, false, 1}, Case{25, true, 25}}) {
        SCOPED_TRACE(testing::Message() << "distance " << c.distance << " randomize " << c.randomize);
        ASSERT_TRUE(idleFor(300)) << "the pointer rests before each movement";
        const std::size_t before = client.events().size();
        rig.jiggler.perform(JiggleMode::standard, c.distance, c.randomize);
        ASSERT_TRUE(waitUntil([&] {
            client.pump();
            return eventsSince(client, before, PointerClient::Event::motion).size() >= 2;
        }));
        const auto moves = eventsSince(client, before, PointerClient::Event::motion);
        ASSERT_EQ(moves.size(), 2u);
        const QPointF out = moves[0].at - start;
        EXPECT_NEAR(std::hypot(out.x(), out.y()), c.step, 0.01);
        if (!c.randomize) {
            EXPECT_NEAR(out.x(), c.step, 0.01) << "without randomness the step goes right";
            EXPECT_NEAR(out.y(), 0, 0.01);
        }
        EXPECT_EQ(moves[1].at, start);
        EXPECT_TRUE(eventsSince(client, before, PointerClient::Event::button).empty());
    }
}

TEST_F(Mutter, ClickPressesAndReleasesOncePerMovementAndZenMovesNothing) {
    InputRig rig(*mutter, connection, QPointF(300, 200));
    ASSERT_TRUE(rig.start) << "no pointer over the test's window";
    PointerClient& client = rig.client;
    const QPointF start = *rig.start;

    std::size_t before = client.events().size();
    rig.jiggler.perform(JiggleMode::click, 4, true);
    rig.jiggler.perform(JiggleMode::click, 4, true);
    ASSERT_TRUE(waitUntil([&] {
        client.pump();
        return eventsSince(client, before, PointerClient::Event::button).size() >= 4;
    }));
    const auto buttons = eventsSince(client, before, PointerClient::Event::button);
    ASSERT_EQ(buttons.size(), 4u);
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i].code, std::uint32_t(BTN_LEFT));
        EXPECT_EQ(buttons[i].pressed, i % 2 == 0);
    }
    EXPECT_TRUE(eventsSince(client, before, PointerClient::Event::motion).empty());

    // Zen: the compositor counts fresh input while the pointer stays where it was.
    ASSERT_TRUE(idleFor(1500));
    before = client.events().size();
    rig.jiggler.perform(JiggleMode::zen, 4, true);
    EXPECT_TRUE(waitUntil([&] { return mutter->idletimeMs() >= 0 && mutter->idletimeMs() < 1000; }));
    client.pump();
    EXPECT_EQ(client.position(), start);
    for (const auto& event : eventsSince(client, before, PointerClient::Event::motion))
        EXPECT_EQ(event.at, start);
}

TEST_F(Mutter, SessionStartsOnTheFirstEventAndStopsAfterAGapAndOnDestruction) {
    auto desktop = std::make_unique<MutterRemoteDesktop>(connection, 700);
    EXPECT_TRUE(desktop->available());
    EXPECT_TRUE(mutter->remoteDesktopSessions().isEmpty()) << "nothing is opened before a movement";

    desktop->motion(0, 0);
    ASSERT_TRUE(waitUntil([&] { return !desktop->startedSession().isEmpty(); }));
    EXPECT_EQ(mutter->remoteDesktopSessions(), QStringList{desktop->startedSession()});

    EXPECT_TRUE(waitUntil([&] { return mutter->remoteDesktopSessions().isEmpty(); }))
        << "stopped after the gap";
    EXPECT_TRUE(desktop->startedSession().isEmpty());

    ASSERT_TRUE(idleFor(1200));
    desktop->motion(0, 0);
    ASSERT_TRUE(waitUntil([&] { return !desktop->startedSession().isEmpty(); }));
    EXPECT_TRUE(waitUntil([&] { return mutter->idletimeMs() >= 0 && mutter->idletimeMs() < 1000; }))
        << "the new session reaches the compositor";
    desktop.reset();
    EXPECT_TRUE(waitUntil([&] { return mutter->remoteDesktopSessions().isEmpty(); }))
        << "stopped on destruction";
}

TEST_F(Mutter, InputAndTrustFollowMutterComingAndGoing) {
    mutter->stop();
    MutterRemoteDesktop desktop(connection);
    MutterTrust trust(desktop);
    EXPECT_FALSE(trust.trusted()) << "no remote desktop, no input";

    ASSERT_TRUE(mutter->start());
    EXPECT_TRUE(waitUntil([&] { return trust.trusted(); }));
    desktop.motion(0, 0);
    ASSERT_TRUE(waitUntil([&] { return !desktop.startedSession().isEmpty(); }));

    mutter->stop();
    EXPECT_TRUE(waitUntil([&] { return !trust.trusted(); }));
    EXPECT_TRUE(desktop.startedSession().isEmpty());

    ASSERT_TRUE(mutter->start());
    EXPECT_TRUE(waitUntil([&] { return trust.trusted(); }));
    ASSERT_TRUE(idleFor(1200));
    desktop.motion(0, 0);
    EXPECT_TRUE(waitUntil([&] { return mutter->idletimeMs() >= 0 && mutter->idletimeMs() < 1000; }))
        << "the movement reaches the restarted compositor";
}

TEST_F(Mutter, IdleOnlyMovesAtTheThresholdThroughTheMonitorsWatches) {
    MutterIdleTime idle(connection);
    ASSERT_TRUE(waitUntil([&] { return idle.following(); }));
    MutterRemoteDesktop nudger(connection);
    test::idleOnlyFollowsTheSourcesWatch(idle, [&] { nudger.motion(1, 0); });
}

TEST_F(Mutter, EngineInZenKeepsTheCompositorAwakeUntilSwitchedOff) {
    PrivateBus system;
    ASSERT_TRUE(system.ok());
    MemoryDefaults defaults;
    SettingsStore store(defaults);
    store.update([](Prefs& p) {
        p.interval = 2;
        p.mode = JiggleMode::zen;
        p.policy = TriggerPolicy::always;
        p.randomize = false;
        p.preventDisplaySleep = false;
        p.hotkey = false;
    });
    LinuxPorts ports(store, defaults, privateBuses(bus, system, SessionKind::gnomeWayland));
    ASSERT_EQ(ports.choices().jiggler, "MutterJiggler");
    Engine engine(store, ports.ports());
    engine.start();
    engine.setEnabled(true);
    ASSERT_TRUE(waitUntil([&] { return engine.jiggleCount() > 0; }, 8000));
    // Mutter's idle monitor sees the remote-desktop input: registered within two movements.
    const auto verdict = [&] { return engine.activityCheck().verdict(); };
    ASSERT_TRUE(waitUntil([&] { return verdict() == Verdict::verified; }, 8000));
    EXPECT_LE(engine.jiggleCount(), 2);

    QElapsedTimer clock;
    clock.start();
    qint64 worstIdle = 0;
    bool sawWorking = false;
    waitUntil(
        [&] {
            worstIdle = std::max(worstIdle, mutter->idletimeMs());
            // The engine tells its own movements from the user's through the compositor's idle time.
            sawWorking = sawWorking || engine.working();
            EXPECT_EQ(verdict(), Verdict::verified);
            return clock.elapsed() > 15000;
        },
        20000);
    EXPECT_LT(worstIdle, 3000);
    EXPECT_TRUE(sawWorking);
    EXPECT_GE(engine.jiggleCount(), 6);

    engine.setEnabled(false);
    EXPECT_TRUE(idleFor(5000, 9000)) << "switched off, the compositor's idle time grows";
}

// Mutter without remote desktop for us (its name is held by a service that refuses every session):
// the real program, natively on Mutter with its command-line client beside it, never says
// "verified", and its diagnosis fails naming the adapters and the verdict.
TEST(MutterRefused, TheRealProgramIsNeverVerifiedAndItsDiagnosisFails) {
    PrivateBus bus;
    ASSERT_TRUE(bus.ok());
    const QString name = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
    const QString path = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
    DBusMock refusing(bus, {name, path, name}, name);
    ASSERT_TRUE(refusing.ok());
    ASSERT_TRUE(refusing.addMethod(path, name, QStringLiteral("CreateSession"), QString(),
                                   QStringLiteral("o"),
                                   QStringLiteral("raise dbus.exceptions.DBusException('refused', "
                                                  "name='org.freedesktop.DBus.Error.AccessDenied')")));
    HeadlessMutter mutter(bus);
    ASSERT_TRUE(mutter.ok());

    RealProgram program(
        QStringLiteral(MORVANE_APP_BUNDLE "/bin/morvane"),
        R"({"autoCheckUpdates":false,"interval":2,"mode":"standard","policy":"always","preventDisplaySleep":false})",
        {{QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address()},
         {QStringLiteral("XDG_RUNTIME_DIR"), QFileInfo(mutter.socketPath()).absolutePath()},
         {QStringLiteral("WAYLAND_DISPLAY"), mutter.socketPath()},
         {QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME")}});
    program.start();
    const auto morvane = [&](const QString& argument, QString* out = nullptr) {
        return program.run({argument}, out);
    };
    ASSERT_TRUE(waitUntil([&] { return morvane(QStringLiteral("--on")) == 0; }, 20000));

    bool everVerified = false;
    EXPECT_TRUE(waitUntil(
        [&] {
            QString status;
            morvane(QStringLiteral("--status"), &status);
            everVerified = everVerified || status.contains(QStringLiteral("registró"));
            return status.contains(QStringLiteral("La sesión no está registrando los movimientos"));
        },
        30000));
    EXPECT_FALSE(everVerified);
    EXPECT_FALSE(refusing.calls(path).isEmpty()) << "a session was asked for";
    QString report;
    EXPECT_EQ(morvane(QStringLiteral("--diagnose"), &report), 4) << report.toStdString();
    for (const char* expected :
         {"GNOME Wayland", "MutterIdleTime", "✗ Permiso para mover el puntero: no concedido (MutterTrust)",
          "✗ Movimientos (unverified)"})
        EXPECT_TRUE(report.contains(QString::fromUtf8(expected))) << expected << "\n" << report.toStdString();
}

// Which adapters each kind of session gets, as the factory builds them on a private bus.
TEST(LinuxPortsChoice, EachKindOfSessionGetsItsAdapters) {
    PrivateBus session;
    PrivateBus system;
    ASSERT_TRUE(session.ok());
    ASSERT_TRUE(system.ok());
    struct Case {
        SessionKind kind;
        LinuxPorts::Choices expected;
        bool x11;
    };
    const Case cases[] = {
        {SessionKind::x11,
         {"X11IdleTime", "X11Trust", "X11Jiggler", "X11AppsProbe", "NullOverlay", "NullHotKeyFactory"},
         true},
        {SessionKind::gnomeWayland,
         {"MutterIdleTime", "MutterTrust", "MutterJiggler", "NoFrontmostAppsProbe", "NullOverlay",
          "NullHotKeyFactory"},
         false},
        // Without KWin on the bus (the real one: KWinTest), nothing claims input it cannot post.
        {SessionKind::kdeWayland,
         {"NullIdleTime", "NullTrust", "SessionOnlyJiggler", "NoFrontmostAppsProbe", "NullOverlay",
          "NullHotKeyFactory"},
         false},
        {SessionKind::otherWayland,
         {"NullIdleTime", "NullTrust", "SessionOnlyJiggler", "NoFrontmostAppsProbe", "NullOverlay",
          "NullHotKeyFactory"},
         false},
        {SessionKind::none,
         {"NullIdleTime", "NullTrust", "SessionOnlyJiggler", "NullAppsProbe", "NullOverlay",
          "NullHotKeyFactory"},
         false},
    };
    XServer x(false);
    ASSERT_TRUE(x.ok());
    MemoryDefaults defaults;
    SettingsStore store(defaults);
    for (const Case& c : cases) {
        SCOPED_TRACE(sessionKindName(c.kind).toStdString());
        LinuxPorts ports(store, defaults, privateBuses(session, system, c.kind));
        EXPECT_EQ(ports.sessionKind(), c.kind);
        EXPECT_EQ(ports.choices(), c.expected);
        EXPECT_EQ(ports.hasX11(), c.x11);
        if (!c.x11) {
            EXPECT_EQ(ports.ports().apps.frontmostAppName(), std::nullopt);
        }
    }
    // Told to leave X alone, an X11 session gets what a session without a display gets.
    LinuxPorts::Options noX = privateBuses(session, system, SessionKind::x11);
    noX.useX11 = false;
    LinuxPorts withoutX(store, defaults, noX);
    EXPECT_EQ(withoutX.sessionKind(), SessionKind::none);
    EXPECT_EQ(withoutX.choices().jiggler, "SessionOnlyJiggler");
}

// Unforced, the factory reads the environment and finds Mutter's names on the bus.
TEST_F(Mutter, FactoryRecognisesGnomeByMuttersNamesOnTheBus) {
    const EnvironmentOverride type("XDG_SESSION_TYPE", "wayland");
    const EnvironmentOverride desktop("XDG_CURRENT_DESKTOP", std::nullopt);
    PrivateBus system;
    MemoryDefaults defaults;
    SettingsStore store(defaults);
    const LinuxPorts::Options options = privateBuses(bus, system, std::nullopt);
    {
        LinuxPorts ports(store, defaults, options);
        EXPECT_EQ(ports.sessionKind(), SessionKind::gnomeWayland);
        EXPECT_TRUE(waitUntil([&] { return ports.ports().trust.trusted(); }));
    }
    mutter->stop();
    {
        LinuxPorts ports(store, defaults, options);
        EXPECT_EQ(ports.sessionKind(), SessionKind::otherWayland) << "no compositor names, no desktop name";
    }
}
