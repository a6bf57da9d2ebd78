// The whole update as a user gets it: an installed bundle of build 57 (the test app as its
// executable) checks the feed, installs build 58 and relaunches; the new process restores the
// engine's run state. And an installation killed at any step leaves one complete application.

#include "Bundle.h"
#include "Manifest.h"
#include "UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>

using namespace morvane;
using namespace morvane::test;

namespace {

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(inst.ok);
        server = std::make_unique<HttpsServer>(inst.serverRoot);
        ASSERT_TRUE(server->ok());
        BundleRecipe recipe;
        recipe.version = QStringLiteral("1.5.0");
        recipe.build = QStringLiteral("58");
        recipe.publicKey = inst.key.publicBase64;
        const auto rel =
            inst.publish(recipe, QStringLiteral("Morvane-1.5.0.zip"), server->url(QString()).toString(),
                         {QStringLiteral("--notes"), QStringLiteral("Más estable")});
        ASSERT_TRUE(rel);
        QDir().mkpath(inst.serverRoot + QStringLiteral("/software/morvane"));
        ASSERT_TRUE(
            writeFile(inst.serverRoot + QStringLiteral("/software/morvane/appcast.json"), rel->feedJson));
        reports = work.filePath(QStringLiteral("reports"));
        QDir().mkpath(reports);
    }

    // Starts the installed application and waits for it to end; answers whether it ended by itself
    // (true) or was killed (false).
    bool runInstalled(bool withFeed, const QString& killAt = {}) {
        QStringList env{QStringLiteral("MORVANE_TESTAPP_DIR=") + reports,
                        QStringLiteral("XDG_CONFIG_HOME=") + work.filePath(QStringLiteral("config"))};
        if (withFeed) {
            env << QStringLiteral("MORVANE_TESTAPP_FEED=") +
                       server->url(QStringLiteral("software/morvane/appcast.json")).toString()
                << QStringLiteral("MORVANE_TESTAPP_CA=") + server->caFile();
        }
        if (!killAt.isEmpty())
            env << QStringLiteral("MORVANE_TESTAPP_KILL_AT=") + killAt;
        return runProcess(inst.bundle + QStringLiteral("/bin/morvane"), {}, env).exitCode == 0;
    }

    QJsonObject report(qint64 build) const {
        return QJsonDocument::fromJson(readFile(reports + QStringLiteral("/report-%1.json").arg(build)))
            .object();
    }

    // The installation as it was before any update: build 57, from its released archive.
    void reinstallBuild57() {
        QDir(inst.bundle).removeRecursively();
        const QString archive = inst.scratch + QStringLiteral("/installed-release/Morvane-1.4.2.zip");
        ASSERT_TRUE(runProcess(QStringLiteral("bsdtar"),
                               {QStringLiteral("-xf"), archive, QStringLiteral("-C"), inst.installDir})
                        .ok());
        QDir(reports).removeRecursively();
        QDir().mkpath(reports);
    }

    Installation inst;
    std::unique_ptr<HttpsServer> server;
    QTemporaryDir work;
    QString reports;
};

TEST_F(EndToEnd, InstallsRelaunchesAndRestoresTheRunState) {
    ASSERT_TRUE(runInstalled(true));
    const QJsonObject before = report(57);
    ASSERT_FALSE(before.isEmpty());
    EXPECT_EQ(before.value(QStringLiteral("message")).toString(), QStringLiteral("Instalando…"));

    // The relaunched process is the new build, started from the installed path.
    ASSERT_TRUE(waitUntil([&] { return !report(58).isEmpty(); }, 60000));
    const QJsonObject after = report(58);
    const auto pid = static_cast<pid_t>(after.value(QStringLiteral("pid")).toInteger());
    ASSERT_TRUE(waitUntil([&] { return ::kill(pid, 0) != 0; }, 30000));
    EXPECT_EQ(after.value(QStringLiteral("version")).toString(), QStringLiteral("1.5.0"));
    EXPECT_EQ(after.value(QStringLiteral("message")).toString(), QStringLiteral("Estás al día (1.5.0)"));

    // Paused with a timer carried over the pause, exactly as the old process left it.
    const QJsonArray engine = before.value(QStringLiteral("engine")).toArray();
    ASSERT_EQ(engine.size(), 5);
    EXPECT_FALSE(engine[0].toBool());
    EXPECT_GT(engine[4].toDouble(), 0);
    EXPECT_EQ(after.value(QStringLiteral("engine")), before.value(QStringLiteral("engine")));
    EXPECT_EQ(after.value(QStringLiteral("stored")), before.value(QStringLiteral("stored")));
    EXPECT_EQ(before.value(QStringLiteral("stored")).toArray().size(), 8);

    EXPECT_EQ(readFile(reports + QStringLiteral("/notifications.txt")),
              QStringLiteral("Morvane actualizado a 1.5.0\tMás estable\n").toUtf8());
    EXPECT_EQ(BundleInfo::read(inst.bundle)->build, QStringLiteral("58"));
    EXPECT_EQ(entries(inst.installDir), QStringList{QStringLiteral("Morvane.app")});
}

TEST_F(EndToEnd, AKillAtAnyStepLeavesExactlyOneCompleteApplication) {
    const std::vector<std::pair<QString, qint64>> steps{
        {"downloaded", 57}, {"authenticated", 57}, {"workDirCreated", 57}, {"archiveWritten", 57},
        {"unpacking", 57},  {"unpacked", 57},      {"signerVerified", 57}, {"flushed", 57},
        {"swapped", 58},    {"removingOld", 58},   {"cleanedUp", 58},
    };
    for (const auto& [step, build] : steps) {
        reinstallBuild57();
        const std::string name = step.toStdString();
        EXPECT_FALSE(runInstalled(true, step)) << name << ": the installation did not reach this step";
        // The next start.
        ASSERT_TRUE(runInstalled(false)) << name;
        EXPECT_EQ(report(build).value(QStringLiteral("build")).toInteger(), build) << name;
        EXPECT_EQ(entries(inst.installDir), QStringList{QStringLiteral("Morvane.app")}) << name;
        EXPECT_EQ(manifest::verifySameSigner(inst.bundle, inst.key.publicBase64), std::nullopt) << name;
        EXPECT_EQ(BundleInfo::read(inst.bundle)->build, QString::number(build)) << name;
    }
}

} // namespace
