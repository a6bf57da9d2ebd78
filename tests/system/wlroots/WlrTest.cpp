// The wlroots adapters against a headless sway started by the test: the virtual pointer's
// movements as the compositor's idle protocol sees them from another client, the frontmost
// window over sway's IPC, and a compositor that goes away.
#include "FakePorts.h"
#include "IdleWatchScenario.h"
#include "LinuxPorts.h"
#include "SettingsStore.h"
#include "TestServers.h"
#include "WlrAppsProbe.h"
#include "WlrClient.h"
#include "WlrIdleTime.h"
#include "WlrInput.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

namespace morvane {
namespace {

class WlrTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sway.ok()) << "headless sway did not start"; }

    std::unique_ptr<WlrClient> connect() {
        std::unique_ptr<WlrClient> client = WlrClient::connect(sway.waylandSocket());
        EXPECT_TRUE(client);
        return client;
    }

    test::HeadlessSway sway;
};

TEST_F(WlrTest, SwayOffersTheVirtualPointerAndAnIdleProtocol) {
    std::unique_ptr<WlrClient> client = connect();
    ASSERT_TRUE(client);
    EXPECT_TRUE(client->virtualPointers());
    EXPECT_TRUE(client->hasIdleProtocol());
    WlrTrust trust(*client);
    EXPECT_TRUE(trust.trusted());
    EXPECT_FALSE(WlrClient::connect(sway.runtimeDir() + QStringLiteral("/no-such-socket")));
}

TEST_F(WlrTest, EveryModeIsInputToTheCompositor) {
    std::unique_ptr<WlrClient> observer = connect();
    std::unique_ptr<WlrClient> mover = connect();
    ASSERT_TRUE(observer && mover);
    WlrIdleTime idle(*observer);
    WlrJiggler jiggler(*mover, nullptr);

    // Our own activity on our idle timer is no input on the seat: the observer stays idle.
    ASSERT_TRUE(test::waitUntil([&] { return idle.idleSeconds() >= 1.0; }));
    jiggler.declareActivity();
    test::waitUntil([] { return false; }, 300);
    EXPECT_GE(idle.idleSeconds(), 1.2);

    for (JiggleMode mode : {JiggleMode::standard, JiggleMode::zen, JiggleMode::click}) {
        SCOPED_TRACE(int(mode));
        ASSERT_TRUE(test::waitUntil([&] { return idle.idleSeconds() >= 1.0; }));
        jiggler.perform(mode, 4, true);
        EXPECT_TRUE(test::waitUntil([&] { return idle.idleSeconds() == 0; }, 2000));
    }
}

TEST_F(WlrTest, IdleOnlyMovesAtTheThresholdThroughExtIdleNotify) {
    std::unique_ptr<WlrClient> observer = connect();
    std::unique_ptr<WlrClient> user = connect();
    ASSERT_TRUE(observer && user);
    WlrIdleTime idle(*observer);
    WlrJiggler hand(*user, nullptr);
    test::idleOnlyFollowsTheSourcesWatch(idle, [&] { hand.perform(JiggleMode::standard, 2, false); });
}

TEST_F(WlrTest, FrontmostIsSwaysFocusedWindow) {
    WlrAppsProbe probe(sway.ipcSocket(), nullptr);
    // An empty workspace has the focus: no application is in front.
    EXPECT_EQ(probe.frontmostAppName(), std::nullopt);
    EXPECT_EQ(probe.runningApp(QStringLiteral("foot")), std::nullopt);
    if (QStandardPaths::findExecutable(QStringLiteral("foot")).isEmpty())
        GTEST_SKIP() << "foot is not installed";
    QProcess foot;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), sway.runtimeDir());
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-1"));
    foot.setProcessEnvironment(env);
    foot.setStandardOutputFile(QProcess::nullDevice());
    foot.setStandardErrorFile(QProcess::nullDevice());
    foot.start(QStringLiteral("foot"), {QStringLiteral("sleep"), QStringLiteral("30")});
    ASSERT_TRUE(foot.waitForStarted(5000));
    EXPECT_TRUE(test::waitUntil([&] { return probe.frontmostAppName() == QStringLiteral("foot"); }));
    foot.kill();
    foot.waitForFinished(3000);
    EXPECT_TRUE(test::waitUntil([&] { return !probe.frontmostAppName(); }));
}

TEST_F(WlrTest, ACompositorThatLeavesTakesTrustAndIdleWithIt) {
    std::unique_ptr<WlrClient> client = connect();
    ASSERT_TRUE(client);
    WlrTrust trust(*client);
    WlrIdleTime idle(*client);
    WlrJiggler jiggler(*client, nullptr);
    WlrAppsProbe probe(sway.ipcSocket(), nullptr);
    jiggler.perform(JiggleMode::zen, 4, false);
    ASSERT_TRUE(test::waitUntil([&] { return idle.idleSeconds() >= 1.0; }));
    sway.stop();
    EXPECT_TRUE(test::waitUntil([&] {
        client->pump();
        return !trust.trusted();
    }));
    EXPECT_EQ(idle.idleSeconds(), 0);
    jiggler.perform(JiggleMode::standard, 4, false);
    jiggler.perform(JiggleMode::click, 4, false);
    EXPECT_EQ(probe.frontmostAppName(), std::nullopt);
}

// The factory on sway, with no session bus at all (so no portal): our own Wayland connection for
// idle time and input, sway's IPC for the frontmost window, no hot key, no consent flow.
TEST_F(WlrTest, TheFactoryGivesSwayTheVirtualPointer) {
    const QByteArray savedDisplay = qgetenv("WAYLAND_DISPLAY");
    const QByteArray savedSway = qgetenv("SWAYSOCK");
    qputenv("WAYLAND_DISPLAY", QFile::encodeName(sway.waylandSocket()));
    qputenv("SWAYSOCK", QFile::encodeName(sway.ipcSocket()));
    test::MemoryDefaults defaults;
    SettingsStore store(defaults);
    LinuxPorts::Options options;
    options.sessionBusAddress = options.systemBusAddress = QStringLiteral("unix:path=/nonexistent/bus");
    options.useAudio = false;
    options.sessionKind = SessionKind::wlrootsWayland;
    {
        LinuxPorts ports(store, defaults, options);
        const LinuxPorts::Choices expected{"WlrIdleTime",  "WlrTrust",    "WlrJiggler",
                                           "WlrAppsProbe", "NullOverlay", "NullHotKeyFactory"};
        EXPECT_EQ(ports.choices(), expected);
        EXPECT_FALSE(ports.requestInputPermission());
        EnginePorts engine = ports.ports();
        EXPECT_TRUE(engine.trust.trusted());

        std::unique_ptr<WlrClient> observer = connect();
        ASSERT_TRUE(observer);
        WlrIdleTime idle(*observer);
        ASSERT_TRUE(
            test::waitUntil([&] { return idle.idleSeconds() >= 1.0 && engine.idle.idleSeconds() >= 1.0; }));
        engine.jiggler.perform(JiggleMode::zen, 4, false);
        EXPECT_TRUE(test::waitUntil([&] { return idle.idleSeconds() == 0; }, 2000));
        EXPECT_TRUE(test::waitUntil([&] { return engine.idle.idleSeconds() == 0; }, 2000));
    }
    for (const auto& [name, value] :
         {std::pair{"WAYLAND_DISPLAY", savedDisplay}, std::pair{"SWAYSOCK", savedSway}}) {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
}

TEST(WlrTreeTest, FocusedNameComesFromTheFocusedNode) {
    const struct {
        const char* tree;
        std::optional<QString> name;
    } cases[] = {
        {R"({"focused":false,"nodes":[{"focused":false,"nodes":[{"focused":true,"app_id":"org.gnome.Nautilus"}]}]})",
         QStringLiteral("org.gnome.Nautilus")},
        {R"({"nodes":[{"floating_nodes":[{"focused":true,"app_id":null,"window_properties":{"class":"Gimp"}}]}]})",
         QStringLiteral("Gimp")},
        {R"({"nodes":[{"focused":true,"type":"workspace","nodes":[{"app_id":"foot"}]}]})", std::nullopt},
        {R"({"nodes":[{"app_id":"foot","focused":false}]})", std::nullopt},
        {R"({"nodes":[{"focused":true,"app_id":"x")", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WlrAppsProbe::focusedName(QByteArray(c.tree)), c.name) << c.tree;
}

} // namespace
} // namespace morvane
