#include "FakePorts.h"
#include "LinuxPorts.h"
#include "Probes.h"
#include "SettingsStore.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <memory>

using namespace morvane;
using namespace morvane::test;
using namespace std::chrono_literals;

namespace {

// PulseServer points PULSE_SERVER at itself; each test leaves it as it found it.
class AudioProbeTest : public ::testing::Test {
protected:
    void SetUp() override { m_saved = qgetenv("PULSE_SERVER"); }
    void TearDown() override { qputenv("PULSE_SERVER", m_saved); }

private:
    QByteArray m_saved;
};

TEST_F(AudioProbeTest, FollowsTheDefaultSink) {
    PulseServer server;
    ASSERT_TRUE(server.ok());
    PulseAudioProbe probe;
    ASSERT_TRUE(waitUntil([&] { return probe.ready(); }));
    EXPECT_FALSE(probe.audioPlaying()) << "an idle sink";

    ASSERT_TRUE(server.startPlaying());
    EXPECT_TRUE(waitUntil([&] { return probe.audioPlaying(); }));
    server.stopPlaying();
    EXPECT_TRUE(waitUntil([&] { return !probe.audioPlaying(); }));
    ASSERT_TRUE(server.startPlaying());
    EXPECT_TRUE(waitUntil([&] { return probe.audioPlaying(); })) << "the subscription stays alive";
}

TEST_F(AudioProbeTest, FollowsAChangeOfDefaultSink) {
    PulseServer server;
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(run("pactl", {"load-module", "module-null-sink", "sink_name=other"}), 0);
    PulseAudioProbe probe;
    ASSERT_TRUE(waitUntil([&] { return probe.ready(); }));

    ASSERT_EQ(run("pactl", {"set-default-sink", "other"}), 0);
    ASSERT_TRUE(server.startPlaying());
    QByteArray sinks;
    ASSERT_TRUE(waitUntil([&] {
        return run("pactl", {"list", "short", "sinks"}, 2000, &sinks) == 0 && sinks.contains("other") &&
               sinks.mid(sinks.indexOf("other")).split('\n').first().contains("RUNNING");
    })) << sinks.toStdString();
    EXPECT_TRUE(waitUntil([&] { return probe.audioPlaying(); })) << "tracks the new default sink";
}

// The server's clients named like ours, and this process's PulseAudio loop threads.
std::pair<int, int> connectionsAndThreads() {
    QByteArray clients;
    run("pactl", {"list", "clients"}, 5000, &clients);
    int threads = 0;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        threads += comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("threaded-ml");
    }
    return {int(clients.count("application.name = \"Morvane\"")), threads};
}

// Through the factory: the audio condition of the settings decides whether there is a connection.
TEST_F(AudioProbeTest, ConnectsOnlyWhileTheAudioConditionIsSet) {
    PulseServer server;
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(server.startPlaying());
    MemoryDefaults defaults;
    SettingsStore store(defaults);
    LinuxPorts::Options options;
    options.sessionKind = SessionKind::none;
    LinuxPorts ports(store, defaults, options);
    AudioProbe& probe = ports.ports().audio;
    for (int round = 0; round < 2; ++round) {
        EXPECT_FALSE(probe.audioPlaying()) << "unset: no answer from the server";
        EXPECT_EQ(connectionsAndThreads(), std::pair(0, 0)) << round;

        store.update([](Prefs& p) { p.reqAudio = true; });
        EXPECT_TRUE(waitUntil([&] { return probe.audioPlaying(); })) << round;
        EXPECT_EQ(connectionsAndThreads(), std::pair(1, 1)) << round;
        store.update([](Prefs& p) { p.reqAudio = false; });
    }
}

TEST_F(AudioProbeTest, NoServerAnswersFalseWithoutWaiting) {
    qputenv("PULSE_SERVER", "unix:/nonexistent/morvane-test/native");
    QElapsedTimer elapsed;
    elapsed.start();
    {
        PulseAudioProbe probe(10ms);
        for (int i = 0; i < 50; ++i)
            EXPECT_FALSE(probe.audioPlaying());
        EXPECT_FALSE(probe.ready());
    }
    // Generous: the point is that nothing waits for a connection timeout.
    EXPECT_LT(elapsed.elapsed(), 2000);
}

TEST_F(AudioProbeTest, FindsAServerThatComesBack) {
    std::unique_ptr<PulseServer> server = std::make_unique<PulseServer>();
    ASSERT_TRUE(server->ok());
    PulseAudioProbe probe(100ms);
    ASSERT_TRUE(waitUntil([&] { return probe.ready(); }));

    server.reset();
    ASSERT_TRUE(waitUntil([&] { return !probe.ready(); })) << "the loss is noticed without being asked";
    EXPECT_FALSE(probe.audioPlaying());

    // A new server (on a new socket, named by PULSE_SERVER) is found lazily, on being asked.
    server = std::make_unique<PulseServer>();
    ASSERT_TRUE(server->ok());
    ASSERT_TRUE(waitUntil([&] {
        probe.audioPlaying();
        return probe.ready();
    }));
    ASSERT_TRUE(server->startPlaying());
    EXPECT_TRUE(waitUntil([&] { return probe.audioPlaying(); }));
}

} // namespace
