// The KDE Plasma adapters on a real KWin (kwin_wayland --virtual, Plasma 5.27) on a private bus,
// built by the factory as on a Plasma desktop: the engine holding KWin's idle timers down in every
// mode (seen by another client's two-second idle timeout and a window of the test's), the active
// window from the KWin script, the hot key in kglobalaccel, and the permission banner where KWin
// lets no input in.
#include "Engine.h"
#include "FakePorts.h"
#include "KGlobalAccelHotKey.h"
#include "LinuxPorts.h"
#include "SettingsStore.h"
#include "WaylandTestClient.h"
#include "WlrClient.h"
#include "WlrIdleTime.h"
#include "WlrInput.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <linux/input-event-codes.h>

using namespace morvane;
using namespace morvane::test;

namespace {

using Kind = PointerClient::Event::Kind;

QDBusMessage accel(const QDBusConnection& bus, const QString& method, const QVariantList& arguments,
                   const QString& path = QStringLiteral("/kglobalaccel"),
                   const QString& interface = QStringLiteral("org.kde.KGlobalAccel")) {
    QDBusMessage m =
        QDBusMessage::createMethodCall(QStringLiteral("org.kde.kglobalaccel"), path, interface, method);
    m.setArguments(arguments);
    return bus.call(m);
}

// Whether kglobalaccel lists Morvane's component, and the keys of its action.
std::pair<bool, QList<int>> accelEntry(const QDBusConnection& bus) {
    const QStringList& id = KGlobalAccelHotKeyFactory::actionId();
    bool listed = false;
    for (const QStringList& c :
         qdbus_cast<QList<QStringList>>(accel(bus, "allMainComponents", {}).arguments().value(0)))
        listed = listed || c.mid(0, 2) == QStringList{id[0], id[2]};
    return {listed, qdbus_cast<QList<int>>(accel(bus, "shortcut", {id}).arguments().value(0))};
}

// Morvane on at a one-second interval in `mode`: once its first movement lands, the watcher (a
// client with a two-second idle timeout) never sees the seat idle for 15 s; switched off, it does
// within 5 s. Answers the window's events of the run, of `kind`.
std::vector<PointerClient::Event> holdAwake(Engine& engine, SettingsStore& store, WlrIdleTime& watcher,
                                            PointerClient& window, JiggleMode mode, Kind kind) {
    store.update([&](Prefs& p) { p.mode = mode; });
    EXPECT_TRUE(waitUntil([&] { return watcher.idleSeconds() > 0; })) << "idle before switching on";
    const std::size_t from = window.events().size();
    engine.setEnabled(true);
    EXPECT_TRUE(waitUntil([&] { return watcher.idleSeconds() == 0; }, 4000)) << "the first movement lands";
    QElapsedTimer clock;
    clock.start();
    waitUntil([&] { return watcher.idleSeconds() > 0 || clock.elapsed() >= 15000; }, 16000);
    EXPECT_GE(clock.elapsed(), 15000) << "KWin went idle while Morvane moved";
    engine.setEnabled(false);
    EXPECT_TRUE(waitUntil([&] { return watcher.idleSeconds() > 0; }, 5000)) << "switched off, KWin goes idle";
    window.pump();
    std::vector<PointerClient::Event> events;
    std::copy_if(window.events().begin() + std::ptrdiff_t(from), window.events().end(),
                 std::back_inserter(events), [&](const auto& e) { return e.kind == kind; });
    return events;
}

TEST(KWin, InputHotKeyAndActiveWindowOnAPlasmaDesktop) {
    PrivateBus bus, system;
    HeadlessKWin kwin(bus);
    ASSERT_TRUE(kwin.ok()) << "kwin_wayland --virtual did not come up";
    const QDBusConnection control = bus.connect(QStringLiteral("kwin-test"));
    // The factory's own connection, made first so that the portal knows whom it answers.
    const QDBusConnection morvane = bus.connect(QStringLiteral("morvane-session ") + bus.address());
    // Recognised as KDE by the session type and KWin's name on the bus.
    qputenv("WAYLAND_DISPLAY", QFile::encodeName(kwin.socketPath()));
    qputenv("XDG_SESSION_TYPE", "wayland");
    qunsetenv("SWAYSOCK");
    LinuxPorts::Options options;
    options.sessionBusAddress = bus.address();
    options.systemBusAddress = system.address();
    options.useAudio = options.useOverlay = false;
    // An installed Morvane's desktop entry grants it fake input; here the test is the program.
    const auto grant = [&](bool granted) {
        return kwin.allowFakeInput(QCoreApplication::applicationFilePath(), granted) && waitUntil([&] {
                   const auto probe = WlrClient::connect(kwin.socketPath());
                   return probe && bool(probe->fakeInput()) == granted;
               });
    };
    ASSERT_TRUE(grant(true));

    MemoryDefaults defaults;
    SettingsStore store(defaults);
    store.update([](Prefs& p) {
        p.interval = 1;
        p.policy = TriggerPolicy::always;
        p.randomize = p.preventDisplaySleep = p.hotkey = false;
        p.distance = 4;
    });
    {
        LinuxPorts ports(store, defaults, options);
        EXPECT_EQ(ports.sessionKind(), SessionKind::kdeWayland);
        const LinuxPorts::Choices expected{"WlrIdleTime",   "KWinTrust",   "KWinJiggler",
                                           "KWinAppsProbe", "NullOverlay", "KGlobalAccelHotKeyFactory"};
        ASSERT_EQ(ports.choices(), expected);
        EnginePorts enginePorts = ports.ports();
        EXPECT_TRUE(enginePorts.trust.trusted());
        PointerClient window(kwin.socketPath(), QStringLiteral("app.morvane.kwin-test"));
        const auto watcherClient = WlrClient::connect(kwin.socketPath(), 2000);
        ASSERT_TRUE(window.ok() && watcherClient);
        WlrIdleTime watcher(*watcherClient);

        // The window in front, as KWin's script tells, pauses Morvane where the user asks for it.
        Engine engine(store, enginePorts);
        engine.start();
        store.update([](Prefs& p) {
            p.neverFrontmost = true;
            p.neverFrontmostList = QStringLiteral("zoom, kwin-test");
        });
        engine.setEnabled(true);
        EXPECT_TRUE(
            waitUntil([&] { return engine.status() == "Pausado: app.morvane.kwin-test está al frente"; }));
        engine.setEnabled(false);
        store.update([](Prefs& p) { p.neverFrontmost = false; });

        // Zen reaches no window, only KWin's idle timers.
        EXPECT_TRUE(holdAwake(engine, store, watcher, window, JiggleMode::zen, Kind::motion).empty());
        // Standard: four points right and back, every time to the same place.
        const auto moves = holdAwake(engine, store, watcher, window, JiggleMode::standard, Kind::motion);
        ASSERT_GE(moves.size(), 20u);
        for (std::size_t i = 0; i + 1 < moves.size(); i += 2)
            EXPECT_TRUE(moves[i].at - moves[i + 1].at == QPointF(4, 0) && moves[i + 1].at == moves[1].at)
                << i;
        // Click: left presses and releases in pairs.
        const auto buttons = holdAwake(engine, store, watcher, window, JiggleMode::click, Kind::button);
        ASSERT_GE(buttons.size(), 20u);
        for (std::size_t i = 0; i < buttons.size(); ++i)
            EXPECT_TRUE(buttons[i].code == BTN_LEFT && buttons[i].pressed == (i % 2 == 0)) << i;

        // The hot key: listed under Morvane with Ctrl+Alt+Meta+J, pressed through kglobalaccel,
        // gone with the option.
        store.update([](Prefs& p) { p.hotkey = true; });
        const auto registered = std::pair{true, QList<int>{KGlobalAccelHotKeyFactory::defaultKey()}};
        EXPECT_TRUE(
            waitUntil([&] { return engine.hotKeyRegistered() && accelEntry(control) == registered; }));
        accel(control, "invokeShortcut", {QStringLiteral("toggle")},
              KGlobalAccelHotKeyFactory::componentPath(), QStringLiteral("org.kde.kglobalaccel.Component"));
        EXPECT_TRUE(waitUntil([&] { return engine.enabled(); }));
        store.update([](Prefs& p) { p.hotkey = false; });
        EXPECT_TRUE(waitUntil([&] { return accelEntry(control) == std::pair{false, QList<int>{}}; }));
    }

    // Without the grant, the other modes wait for the permission the banner asks for; given
    // through the portal's dialog, its session carries them.
    ASSERT_TRUE(grant(false));
    const QJsonObject portalSetup{{QStringLiteral("sender"), morvane.baseService()}};
    DBusMock portal(bus,
                    {QStringLiteral("-t"), QStringLiteral(MORVANE_PORTAL_MOCK), QStringLiteral("-p"),
                     QString::fromUtf8(QJsonDocument(portalSetup).toJson(QJsonDocument::Compact))},
                    QStringLiteral("org.freedesktop.portal.Desktop"));
    ASSERT_TRUE(portal.ok());
    LinuxPorts ports(store, defaults, options);
    EnginePorts enginePorts = ports.ports();
    EXPECT_FALSE(enginePorts.trust.trusted());
    Engine engine(store, enginePorts);
    engine.start();
    store.update([](Prefs& p) { p.mode = JiggleMode::standard; });
    engine.setEnabled(true);
    EXPECT_TRUE(waitUntil([&] { return engine.status() == "Falta permiso de Accesibilidad"; }, 15000))
        << engine.status().toStdString();
    EXPECT_FALSE(engine.accessibilityOK());
    ASSERT_TRUE(ports.requestInputPermission());
    EXPECT_TRUE(waitUntil([&] { return enginePorts.trust.trusted(); }));
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto calls = portal.calls(QStringLiteral("/org/freedesktop/portal/desktop"));
            return std::any_of(calls.begin(), calls.end(),
                               [](const auto& c) { return c.first == "NotifyPointerMotion"; });
        },
        8000));
}

} // namespace
