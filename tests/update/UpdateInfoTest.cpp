// The feed record's decoding, the strict integer reading, and the version comparisons.

#include "UpdateTestSupport.h"
#include "Updater.h"
#include "Versions.h"

#include <gtest/gtest.h>

#include <QDir>

using namespace morvane;
using namespace morvane::test;

namespace {

const QByteArray kFull = R"({"version":"1.5.0","build":58,"url":"https://h/a.zip","sha256":"AB",
    "signature":"c2ln","notes":"Mejoras","minimumSystem":"6.1","extra":[1,2]})";

struct FeedCase {
    const char* name;
    QByteArray json;
    std::optional<qint64> build; // nothing: undecodable
};

TEST(UpdateInfo, DecodesOnlyWellTypedFeeds) {
    const std::vector<FeedCase> cases{
        {"all keys, unknown ones ignored", kFull, 58},
        {"optional keys null",
         R"({"version":"1","build":2,"url":"u","sha256":"s","signature":"g","notes":null,"minimumSystem":null})",
         2},
        {"optional keys absent", R"({"version":"1","build":2,"url":"u","sha256":"s","signature":"g"})", 2},
        {"build written with a fraction of zero",
         R"({"version":"1","build":58.0,"url":"u","sha256":"s","signature":"g"})", 58},
        {"negative build", R"({"version":"1","build":-3,"url":"u","sha256":"s","signature":"g"})", -3},
        {"build as a string", R"({"version":"1","build":"58","url":"u","sha256":"s","signature":"g"})", {}},
        {"build with a fraction",
         R"({"version":"1","build":58.5,"url":"u","sha256":"s","signature":"g"})",
         {}},
        {"build beyond 64 bits",
         R"({"version":"1","build":1e30,"url":"u","sha256":"s","signature":"g"})",
         {}},
        {"missing url", R"({"version":"1","build":2,"sha256":"s","signature":"g"})", {}},
        {"missing signature", R"({"version":"1","build":2,"url":"u","sha256":"s"})", {}},
        {"version as a number", R"({"version":1,"build":2,"url":"u","sha256":"s","signature":"g"})", {}},
        {"notes as a number",
         R"({"version":"1","build":2,"url":"u","sha256":"s","signature":"g","notes":5})",
         {}},
        {"minimumSystem as a number",
         R"({"version":"1","build":2,"url":"u","sha256":"s","signature":"g","minimumSystem":13})",
         {}},
        {"an array", R"([{"version":"1","build":2,"url":"u","sha256":"s","signature":"g"}])", {}},
        {"not JSON", "<html>502 Bad Gateway</html>", {}},
        {"truncated", R"({"version":"1","build":2,"url":"u")", {}},
    };
    for (const FeedCase& c : cases) {
        const auto info = UpdateInfo::fromJson(c.json);
        EXPECT_EQ(info.has_value(), c.build.has_value()) << c.name;
        if (info && c.build) {
            EXPECT_EQ(info->build, *c.build) << c.name;
        }
    }
    const auto full = UpdateInfo::fromJson(kFull);
    ASSERT_TRUE(full);
    EXPECT_EQ(*full,
              (UpdateInfo{"1.5.0", 58, "https://h/a.zip", "AB", "c2ln", QString("Mejoras"), QString("6.1")}));
}

TEST(UpdateInfo, EncodesTheFeedKeysAndLeavesAbsentOptionsOut) {
    UpdateInfo info{"1.5.0", 58, "https://h/a.zip", "ab", "c2ln", std::nullopt, QString("6.1")};
    const QByteArray json = info.toJson();
    EXPECT_FALSE(json.contains("notes"));
    EXPECT_EQ(UpdateInfo::fromJson(json), info);
    info.notes = QStringLiteral("Línea \"citada\"\n");
    EXPECT_EQ(UpdateInfo::fromJson(info.toJson()), info);
}

TEST(Versions, ReadsIntegersStrictly) {
    const std::vector<std::pair<QString, std::optional<qint64>>> cases{
        {"57", 57},
        {"+58", 58},
        {"-3", -3},
        {"007", 7},
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {"9223372036854775808", {}},
        {"-9223372036854775809", {}},
        {"57b", {}},
        {"", {}},
        {"+", {}},
        {"-", {}},
        {" 57", {}},
        {"57 ", {}},
        {"5.7", {}},
        {"+-5", {}},
        {QString::fromUtf8("\u0665"), {}}, // ARABIC-INDIC DIGIT FIVE
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(versions::readInteger(text), expected) << text.toStdString();
    EXPECT_EQ(versions::buildNumber(std::nullopt), 0);
    EXPECT_EQ(versions::buildNumber(QStringLiteral("57b")), 0);
}

TEST(Versions, ReadsRequirementsAndKernelReleases) {
    using T = versions::Triple;
    EXPECT_EQ(versions::requirement(u"13.x.4"), (T{13, 4, 0}));
    EXPECT_EQ(versions::requirement(u"99"), (T{99, 0, 0}));
    EXPECT_EQ(versions::requirement(u"..6..1."), (T{6, 1, 0}));
    EXPECT_EQ(versions::requirement(u"6.1.2.9"), (T{6, 1, 2}));
    EXPECT_EQ(versions::requirement(u""), (T{0, 0, 0}));
    EXPECT_EQ(versions::kernelVersion(u"6.1.0-18-amd64"), (T{6, 1, 0}));
    EXPECT_EQ(versions::kernelVersion(u"6.18.44-fc-v1403"), (T{6, 18, 44}));
    EXPECT_EQ(versions::kernelVersion(u"5.15"), (T{5, 15, 0}));
    EXPECT_EQ(versions::kernelVersion(u"6.9.0+"), (T{6, 9, 0}));
    EXPECT_EQ(versions::kernelVersion(u"generic"), std::nullopt);
    EXPECT_TRUE(versions::kernelVersion(versions::kernelRelease()));
}

// The updater's reading of its own bundle and of the running kernel.
class UpdaterIdentity : public ::testing::Test {
protected:
    QTemporaryDir dir;
    MemoryDefaults defaults;
    SettingsStore store{defaults};
    FakeNotifier notifier;

    std::unique_ptr<Updater> updaterWithInfo(const std::optional<QByteArray>& info,
                                             const QString& release = QStringLiteral("6.1.0-18-amd64")) {
        const QString bundle = dir.filePath(QStringLiteral("Morvane.app"));
        QDir().mkpath(bundle);
        QFile::remove(bundle + QStringLiteral("/Info.json"));
        if (info)
            writeFile(bundle + QStringLiteral("/Info.json"), *info);
        UpdaterOptions options;
        options.bundlePath = bundle;
        options.systemRelease = release;
        return std::make_unique<Updater>(store, notifier, nullptr, options);
    }
};

TEST_F(UpdaterIdentity, ReadsVersionAndBuildWithFallbacks) {
    struct Case {
        std::optional<QByteArray> info;
        QString version;
        qint64 build;
    };
    const std::vector<Case> cases{
        {R"({"CFBundleShortVersionString":"1.4.2","CFBundleVersion":"57"})", "1.4.2", 57},
        {R"({"CFBundleShortVersionString":"1.4.2","CFBundleVersion":"+57"})", "1.4.2", 57},
        {R"({"CFBundleShortVersionString":"1.4.2","CFBundleVersion":"57b"})", "1.4.2", 0},
        {R"({"CFBundleShortVersionString":"1.4.2","CFBundleVersion":57})", "1.4.2", 0},
        {R"({"CFBundleShortVersionString":1.4,"CFBundleVersion":"99999999999999999999"})", "dev", 0},
        {R"({"CFBundleVersion":""})", "dev", 0},
        {"not json", "dev", 0},
        {std::nullopt, "dev", 0},
    };
    for (const Case& c : cases) {
        const auto updater = updaterWithInfo(c.info);
        EXPECT_EQ(updater->currentVersion(), c.version) << c.info.value_or("(none)").toStdString();
        EXPECT_EQ(updater->currentBuild(), c.build) << c.info.value_or("(none)").toStdString();
    }
}

TEST_F(UpdaterIdentity, ComparesWithTheRunningKernel) {
    const auto updater = updaterWithInfo(QByteArray("{}"), QStringLiteral("6.1.0-18-amd64"));
    EXPECT_TRUE(updater->systemAtLeast(QStringLiteral("6.1")));
    EXPECT_TRUE(updater->systemAtLeast(QStringLiteral("6.1.0")));
    EXPECT_TRUE(updater->systemAtLeast(QStringLiteral("5.x.99")));
    EXPECT_FALSE(updater->systemAtLeast(QStringLiteral("6.1.1")));
    EXPECT_FALSE(updater->systemAtLeast(QStringLiteral("6.2")));
    EXPECT_FALSE(updater->systemAtLeast(QStringLiteral("13.x.4")));
    EXPECT_FALSE(updater->systemAtLeast(QStringLiteral("99")));
}

TEST_F(UpdaterIdentity, StartShowsTheVersionLine) {
    const auto updater = updaterWithInfo(R"({"CFBundleShortVersionString":"1.4.2","CFBundleVersion":"57"})");
    store.update([](Prefs& p) { p.autoCheckUpdates = false; });
    updater->start();
    EXPECT_EQ(updater->message(), QStringLiteral("Versión 1.4.2 (57)"));
    // Automatic checks are off: the scheduled check and autoCheck() do nothing.
    updater->autoCheck();
    EXPECT_FALSE(updater->busy());
    EXPECT_EQ(updater->message(), QStringLiteral("Versión 1.4.2 (57)"));
}

} // namespace
