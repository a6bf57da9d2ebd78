// The KDE Plasma adapters against a real KWin (kwin_wayland --virtual, Plasma 5.27) on a private
// bus, built by the factory as on a Plasma desktop: the engine holding KWin's idle timers down in
// every mode (as an idle watcher and a window of the test's see it), the active window from the
// KWin script, the hot key in kglobalaccel, and the permission banner where KWin lets no input in.
#include "Engine.h"
#include "FakePorts.h"
#include "KGlobalAccelHotKey.h"
#include "KWinAppsProbe.h"
#include "LinuxPorts.h"
#include "SettingsStore.h"
#include "TestServers.h"
#include "WaylandTestClient.h"
#include "WlrClient.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <linux/input-event-codes.h>

using namespace morvane;
using namespace morvane::test;

namespace {

const QString kWindowAppId = QStringLiteral("app.morvane.kwin-test");
const QString kAccel = QStringLiteral("org.kde.kglobalaccel");

// Sets environment variables for its lifetime; a null value unsets one.
class Environment {
public:
    Environment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            m_saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name))
                                                                       : std::nullopt);
            set(name, value ? std::optional(QByteArray(value)) : std::nullopt);
        }
    }
    ~Environment() {
        for (const auto& [name, value] : m_saved)
            set(name, value);
    }

private:
    static void set(const char* name, const std::optional<QByteArray>& value) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    std::vector<std::pair<const char*, std::optional<QByteArray>>> m_saved;
};

QDBusMessage callAccel(const QDBusConnection& bus, const QString& path, const QString& interface,
                       const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage m = QDBusMessage::createMethodCall(kAccel, path, interface, method);
    m.setArguments(arguments);
    return bus.call(m);
}

// The keys kglobalaccel holds for Morvane's action (none once it is removed).
QList<int> accelKeys(const QDBusConnection& bus) {
    const QDBusMessage reply =
        callAccel(bus, QStringLiteral("/kglobalaccel"), QStringLiteral("org.kde.KGlobalAccel"),
                  QStringLiteral("shortcut"), {KGlobalAccelHotKeyFactory::actionId()});
    return reply.type() == QDBusMessage::ReplyMessage ? qdbus_cast<QList<int>>(reply.arguments().value(0))
                                                      : QList<int>();
}

// Whether the shortcut settings would list a component named Morvane.
bool accelListsMorvane(const QDBusConnection& bus) {
    const QDBusMessage reply =
        callAccel(bus, QStringLiteral("/kglobalaccel"), QStringLiteral("org.kde.KGlobalAccel"),
                  QStringLiteral("allMainComponents"));
    for (const QStringList& component : qdbus_cast<QList<QStringList>>(reply.arguments().value(0)))
        if (component.value(0) == KGlobalAccelHotKeyFactory::actionId()[0] &&
            component.value(1) == QStringLiteral("Morvane"))
            return true;
    return false;
}

std::vector<PointerClient::Event> eventsSince(const PointerClient& client, std::size_t from,
                                              PointerClient::Event::Kind kind) {
    std::vector<PointerClient::Event> out;
    for (std::size_t i = from; i < client.events().size(); ++i)
        if (client.events()[i].kind == kind)
            out.push_back(client.events()[i]);
    return out;
}

LinuxPorts::Options onKWinsBus(const PrivateBus& session, const PrivateBus& system) {
    LinuxPorts::Options options;
    options.sessionBusAddress = session.address();
    options.systemBusAddress = system.address();
    options.useAudio = false;
    options.useOverlay = false;
    return options; // the kind of session left to recognise
}

class KWin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.ok() && system.ok());
        kwin = std::make_unique<HeadlessKWin>(bus);
        ASSERT_TRUE(kwin->ok()) << "kwin_wayland --virtual did not come up";
        control = bus.connect(QStringLiteral("kwin-test"));
        // The factory's own connection, made first so that the test knows its name.
        morvane = bus.connect(QStringLiteral("morvane-session ") + bus.address());
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(control.name());
        QDBusConnection::disconnectFromBus(morvane.name());
    }

    // With Morvane on at a one-second interval in `mode`, the watcher (two-second timeout) never
    // goes idle for 15 s once the first movement has landed; switched off, it goes idle within
    // 5 s. Answers the events the window saw meanwhile.
    std::size_t holdAwake(Engine& engine, SettingsStore& store, IdleWatcher& watcher, PointerClient& window,
                          JiggleMode mode) {
        store.update([&](Prefs& p) { p.mode = mode; });
        EXPECT_TRUE(waitUntil([&] { return watcher.idle(); }, 5000)) << "idle before switching on";
        const std::size_t before = window.events().size();
        engine.setEnabled(true);
        EXPECT_TRUE(waitUntil([&] { return !watcher.idle(); }, 4000)) << "the first movement reaches KWin";
        const int idled = watcher.idledCount();
        QElapsedTimer clock;
        clock.start();
        waitUntil(
            [&] {
                window.pump();
                return watcher.idledCount() != idled || clock.elapsed() >= 15000;
            },
            16000);
        EXPECT_EQ(watcher.idledCount(), idled) << "KWin went idle after " << clock.elapsed() << " ms";
        engine.setEnabled(false);
        EXPECT_TRUE(waitUntil([&] { return watcher.idle(); }, 5000)) << "switched off, KWin goes idle";
        window.pump();
        return before;
    }

    PrivateBus bus;
    PrivateBus system;
    std::unique_ptr<HeadlessKWin> kwin;
    QDBusConnection control{QString()};
    QDBusConnection morvane{QString()};
};

TEST_F(KWin, InputHotKeyAndActiveWindowOnAPlasmaDesktop) {
    const QByteArray socket = QFile::encodeName(kwin->socketPath());
    const Environment env{{"WAYLAND_DISPLAY", socket.constData()},
                          {"XDG_SESSION_TYPE", "wayland"},
                          {"XDG_CURRENT_DESKTOP", "KDE"},
                          {"SWAYSOCK", nullptr}};
    // An installed Morvane's desktop entry lets it use fake input; here the test is the program.
    ASSERT_TRUE(kwin->allowFakeInput(QCoreApplication::applicationFilePath(), true));
    ASSERT_TRUE(waitUntil([&] {
        const auto probe = WlrClient::connect(kwin->socketPath());
        return probe && probe->fakeInput();
    }));

    MemoryDefaults defaults;
    SettingsStore store(defaults);
    store.update([](Prefs& p) {
        p.interval = 1;
        p.policy = TriggerPolicy::always;
        p.randomize = false;
        p.distance = 4;
        p.preventDisplaySleep = false;
        p.hotkey = false;
    });
    {
        LinuxPorts ports(store, defaults, onKWinsBus(bus, system));
        EXPECT_EQ(ports.sessionKind(), SessionKind::kdeWayland) << "recognised by org.kde.KWin on the bus";
        const LinuxPorts::Choices expected{"WlrIdleTime",   "KWinTrust",   "KWinJiggler",
                                           "KWinAppsProbe", "NullOverlay", "KGlobalAccelHotKeyFactory"};
        ASSERT_EQ(ports.choices(), expected);
        EnginePorts enginePorts = ports.ports();
        EXPECT_TRUE(enginePorts.trust.trusted());
        EXPECT_FALSE(ports.requestInputPermission()) << "nothing to ask";

        // The active window, from KWin's own script; nobody but KWin can set it.
        PointerClient window(kwin->socketPath(), kWindowAppId);
        IdleWatcher watcher(kwin->socketPath(), 2000);
        ASSERT_TRUE(window.ok() && watcher.ok());
        EXPECT_TRUE(waitUntil([&] { return enginePorts.apps.frontmostAppName() == kWindowAppId; }));
        // Asked without blocking: the probe answers on this very thread.
        const QDBusPendingCall intruder =
            control.asyncCall(QDBusMessage::createMethodCall(
                                  morvane.baseService(), KWinAppsProbe::reportPath(),
                                  QStringLiteral("app.morvane.KWinActiveWindow"), QStringLiteral("activated"))
                              << QStringLiteral("intruder"));
        ASSERT_TRUE(waitUntil([&] { return intruder.isFinished(); }));
        EXPECT_EQ(enginePorts.apps.frontmostAppName(), kWindowAppId);

        Engine engine(store, enginePorts);
        engine.start();
        store.update([](Prefs& p) {
            p.neverFrontmost = true;
            p.neverFrontmostList = QStringLiteral("Zoom, kwin-test");
        });
        engine.setEnabled(true);
        EXPECT_TRUE(
            waitUntil([&] { return engine.status() == "Pausado: " + kWindowAppId + " está al frente"; }));
        engine.setEnabled(false);
        store.update([](Prefs& p) { p.neverFrontmost = false; });

        // Zen reaches no window: KWin's idle timers only.
        std::size_t from = holdAwake(engine, store, watcher, window, JiggleMode::zen);
        EXPECT_TRUE(eventsSince(window, from, PointerClient::Event::motion).empty());
        EXPECT_TRUE(eventsSince(window, from, PointerClient::Event::button).empty());

        // Standard: four points right and back, every time to the same place.
        from = holdAwake(engine, store, watcher, window, JiggleMode::standard);
        const auto moves = eventsSince(window, from, PointerClient::Event::motion);
        ASSERT_GE(moves.size(), 20u);
        for (std::size_t i = 0; i + 1 < moves.size(); i += 2) {
            EXPECT_EQ(moves[i].at - moves[i + 1].at, QPointF(4, 0)) << "movement " << i / 2;
            EXPECT_EQ(moves[i + 1].at, moves[1].at) << "movement " << i / 2;
        }

        // Click: left presses and releases, in pairs, and no motion.
        from = holdAwake(engine, store, watcher, window, JiggleMode::click);
        const auto buttons = eventsSince(window, from, PointerClient::Event::button);
        ASSERT_GE(buttons.size(), 20u);
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            EXPECT_EQ(buttons[i].code, std::uint32_t(BTN_LEFT));
            EXPECT_EQ(buttons[i].pressed, i % 2 == 0);
        }
        EXPECT_TRUE(eventsSince(window, from, PointerClient::Event::motion).empty());

        // The hot key: listed under Morvane with Ctrl+Alt+Meta+J, pressed through kglobalaccel,
        // removed with the option.
        store.update([](Prefs& p) { p.hotkey = true; });
        EXPECT_TRUE(waitUntil([&] {
            return engine.hotKeyRegistered() &&
                   accelKeys(control) == QList<int>{KGlobalAccelHotKeyFactory::defaultKey()};
        }));
        EXPECT_TRUE(accelListsMorvane(control));
        const bool wasOn = engine.enabled();
        callAccel(control, KGlobalAccelHotKeyFactory::componentPath(),
                  QStringLiteral("org.kde.kglobalaccel.Component"), QStringLiteral("invokeShortcut"),
                  {QStringLiteral("toggle")});
        EXPECT_TRUE(waitUntil([&] { return engine.enabled() != wasOn; }));
        store.update([](Prefs& p) { p.hotkey = false; });
        EXPECT_TRUE(waitUntil([&] { return accelKeys(control).isEmpty() && !accelListsMorvane(control); }));
        EXPECT_FALSE(engine.hotKeyRegistered());
    }

    // Where no desktop entry grants fake input, standard mode waits for the user's consent
    // through the portal, with the permission banner up; zen needs none.
    ASSERT_TRUE(kwin->allowFakeInput(QCoreApplication::applicationFilePath(), false));
    ASSERT_TRUE(waitUntil([&] {
        const auto probe = WlrClient::connect(kwin->socketPath());
        return probe && !probe->fakeInput();
    }));
    const QJsonObject parameters{{QStringLiteral("sender"), morvane.baseService()}};
    DBusMock portal(bus,
                    {QStringLiteral("-t"), QStringLiteral(MORVANE_PORTAL_MOCK), QStringLiteral("-p"),
                     QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))},
                    QStringLiteral("org.freedesktop.portal.Desktop"));
    ASSERT_TRUE(portal.ok());
    MemoryDefaults freshDefaults;
    SettingsStore freshStore(freshDefaults);
    freshStore.update([](Prefs& p) {
        p.interval = 1;
        p.policy = TriggerPolicy::always;
        p.mode = JiggleMode::standard;
        p.preventDisplaySleep = false;
        p.hotkey = false;
    });
    LinuxPorts ports(freshStore, freshDefaults, onKWinsBus(bus, system));
    EXPECT_EQ(ports.choices().jiggler, "KWinJiggler");
    EnginePorts enginePorts = ports.ports();
    EXPECT_FALSE(enginePorts.trust.trusted());
    Engine engine(freshStore, enginePorts);
    engine.start();
    engine.setEnabled(true);
    EXPECT_TRUE(waitUntil([&] { return engine.status() == "Falta permiso de Accesibilidad"; }));
    EXPECT_FALSE(engine.accessibilityOK());
    EXPECT_EQ(engine.jiggleCount(), 0);

    ASSERT_TRUE(ports.requestInputPermission());
    EXPECT_TRUE(waitUntil([&] { return enginePorts.trust.trusted(); }));
    EXPECT_TRUE(waitUntil(
        [&] {
            for (const auto& call : portal.calls(QStringLiteral("/org/freedesktop/portal/desktop")))
                if (call.first == QStringLiteral("NotifyPointerMotion"))
                    return true;
            return false;
        },
        8000))
        << "the consented session carries the movements";
}

} // namespace
