// The feed check against a local HTTPS server: every outcome, what an automatic check does with
// a newer build, the transfer limits, and the automatic schedule.

#include "UpdateTestSupport.h"
#include "Updater.h"

#include <gtest/gtest.h>

using namespace morvane;
using namespace morvane::test;

namespace {

QByteArray feedJson(qint64 build, const QString& version, const QString& extra = {}) {
    return QStringLiteral(R"({"version":"%1","build":%2,"url":"https://127.0.0.1:1/none.zip",
        "sha256":"00","signature":"AA==" %3})")
        .arg(version)
        .arg(build)
        .arg(extra)
        .toUtf8();
}

class FeedCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        root = dir.filePath(QStringLiteral("www"));
        QDir().mkpath(root);
        bundle = dir.filePath(QStringLiteral("install/Morvane.app"));
        ASSERT_TRUE(layOutBundle(bundle, BundleRecipe{}));
        server = std::make_unique<HttpsServer>(root);
        ASSERT_TRUE(server->ok());
        notifier.store = &store;
    }

    std::unique_ptr<Updater> updater(const QString& feedPath,
                                     const std::function<void(UpdaterOptions&)>& tweak = {}) {
        UpdaterOptions options;
        options.feedUrl = server->url(feedPath);
        options.caCertificates = server->caPem();
        options.bundlePath = bundle;
        options.systemRelease = QStringLiteral("6.1.0-18-amd64");
        if (tweak)
            tweak(options);
        return std::make_unique<Updater>(
            store, notifier, [this](const QString&) { ++relaunches; }, options);
    }

    void serve(const QString& name, const QByteArray& body) {
        ASSERT_TRUE(writeFile(root + '/' + name, body));
    }

    static bool checked(Updater& u, bool userInitiated) {
        u.check(userInitiated);
        return u.busy() && waitUntil([&] { return !u.busy(); });
    }

    QTemporaryDir dir;
    QString root;
    QString bundle;
    std::unique_ptr<HttpsServer> server;
    MemoryDefaults defaults;
    SettingsStore store{defaults};
    FakeNotifier notifier;
    int relaunches = 0;
};

TEST_F(FeedCheck, PublishesEachOutcomeAndKeepsTheUpdateFoundUntilASuccessfulCheckSaysOtherwise) {
    struct Step {
        const char* name;
        QString path;
        QByteArray body;
        QString message;
        std::optional<qint64> available;
    };
    const QString served = QStringLiteral("software/morvane/appcast.json");
    const std::vector<Step> steps{
        {"newer build", served, feedJson(58, "1.5.0"), "Hay una versión nueva: 1.5.0", 58},
        {"not JSON", served, "<html>oops</html>", "No se pudo consultar el servidor", 58},
        {"build as a string", served,
         R"({"version":"1.6.0","build":"59","url":"u","sha256":"s","signature":"g"})",
         "No se pudo consultar el servidor", 58},
        {"empty body", served, "", "No se pudo consultar el servidor", 58},
        {"needs a newer kernel", served, feedJson(59, "1.6.0", R"(,"minimumSystem":"99")"),
         "La versión 1.6.0 requiere Linux 99", 58},
        {"needs 13.x.4", served, feedJson(59, "1.6.0", R"(,"minimumSystem":"13.x.4")"),
         "La versión 1.6.0 requiere Linux 13.x.4", 58},
        {"kernel new enough", served, feedJson(59, "1.6.0", R"(,"minimumSystem":"6.1")"),
         "Hay una versión nueva: 1.6.0", 59},
        {"same build", served, feedJson(57, "1.4.2"), "Estás al día (1.4.2)", std::nullopt},
        {"newer again", served, feedJson(58, "1.5.0"), "Hay una versión nueva: 1.5.0", 58},
        {"withdrawn release", served, feedJson(56, "1.4.1"), "Estás al día (1.4.2)", std::nullopt},
    };
    QDir().mkpath(root + QStringLiteral("/software/morvane"));
    auto u = updater(served);
    for (const Step& s : steps) {
        serve(s.path, s.body);
        ASSERT_TRUE(checked(*u, true)) << s.name;
        EXPECT_EQ(u->message(), s.message) << s.name;
        EXPECT_EQ(u->available() ? std::optional(u->available()->build) : std::nullopt, s.available)
            << s.name;
    }
    // The HTTP status is not looked at: a feed is a feed.
    serve(served, feedJson(58, "1.5.0"));
    u = updater(QStringLiteral("status/500/") + served);
    ASSERT_TRUE(checked(*u, true));
    EXPECT_EQ(u->message(), QStringLiteral("Hay una versión nueva: 1.5.0"));
    EXPECT_TRUE(notifier.sent.empty()); // user-initiated checks never notify
    EXPECT_EQ(relaunches, 0);
}

TEST_F(FeedCheck, GivesUpOnTransfersThatFailOrGrowOrStall) {
    serve(QStringLiteral("feed.json"), feedJson(58, "1.5.0"));
    serve(QStringLiteral("huge.json"),
          feedJson(58, "1.5.0", QStringLiteral(",\"notes\":\"%1\"").arg(QString(70000, 'x'))));
    const std::vector<std::pair<QString, std::function<void(UpdaterOptions&)>>> cases{
        {"drop", {}},
        {"endless", {}},
        {"huge.json", {}},
        {"no-length/huge.json", {}},
        {"silent", [](UpdaterOptions& o) { o.timeoutMs = 300; }},
        {"trickle", [](UpdaterOptions& o) { o.deadlines.checkMs = 500; }}, // never stalls, never ends
        {"redirect-http/feed.json", {}},
        {"feed.json", [](UpdaterOptions& o) { o.caCertificates.clear(); }}, // untrusted
    };
    for (const auto& [path, tweak] : cases) {
        auto u = updater(QStringLiteral("feed.json"));
        ASSERT_TRUE(checked(*u, true));
        ASSERT_TRUE(u->available());
        u = updater(path, tweak);
        u->check(true);
        ASSERT_TRUE(waitUntil([&] { return !u->busy(); })) << path.toStdString();
        EXPECT_EQ(u->message(), QStringLiteral("No se pudo consultar el servidor")) << path.toStdString();
    }
    // The same feed, trusted and within bounds, reads.
    auto u = updater(QStringLiteral("no-length/feed.json"));
    ASSERT_TRUE(checked(*u, true));
    EXPECT_EQ(u->message(), QStringLiteral("Hay una versión nueva: 1.5.0"));
}

TEST_F(FeedCheck, AnAutomaticCheckAnnouncesOrInstallsAsTheSettingsSay) {
    serve(QStringLiteral("feed.json"), feedJson(58, "1.5.0"));
    store.update([](Prefs& p) { p.autoInstallUpdates = false; });
    auto u = updater(QStringLiteral("feed.json"));
    ASSERT_TRUE(checked(*u, false));
    ASSERT_EQ(notifier.sent.size(), 1u);
    EXPECT_EQ(notifier.sent[0],
              (Note{"Morvane 1.5.0 disponible", "Abrí el menú de Morvane para instalarla."}));

    store.update([](Prefs& p) { p.notifications = false; });
    ASSERT_TRUE(checked(*u, false));
    EXPECT_EQ(notifier.sent.size(), 1u); // the notifier honours the setting

    store.update([](Prefs& p) {
        p.notifications = true;
        p.autoInstallUpdates = true;
    });
    QStringList messages;
    QObject::connect(u.get(), &Updater::changed, [&] {
        if (messages.isEmpty() || messages.last() != u->message())
            messages << u->message();
    });
    u->check(false);
    ASSERT_TRUE(waitUntil([&] { return messages.contains(QStringLiteral("No se pudo descargar")); }));
    // The feed's archive URL leads nowhere, so the installation it started ends there.
    EXPECT_EQ(messages.mid(messages.lastIndexOf(QStringLiteral("Hay una versión nueva: 1.5.0"))),
              (QStringList{"Hay una versión nueva: 1.5.0", "Descargando 1.5.0…", "No se pudo descargar"}));
    EXPECT_EQ(notifier.sent.size(), 1u); // installing instead of announcing
}

TEST_F(FeedCheck, DropsRequestsWhileBusy) {
    serve(QStringLiteral("feed.json"), feedJson(58, "1.5.0"));
    auto u = updater(QStringLiteral("feed.json"));
    int changes = 0;
    QObject::connect(u.get(), &Updater::changed, [&] { ++changes; });
    u->check(true);
    ASSERT_TRUE(u->busy());
    EXPECT_EQ(u->message(), QStringLiteral("Buscando…"));
    const int before = changes;
    u->check(true);
    u->install(*UpdateInfo::fromJson(feedJson(58, "1.5.0")));
    EXPECT_EQ(changes, before);
    EXPECT_EQ(u->message(), QStringLiteral("Buscando…"));
    ASSERT_TRUE(waitUntil([&] { return !u->busy(); }));
}

TEST_F(FeedCheck, StartChecksSoonAndThenOnTheRepeatingTimer) {
    serve(QStringLiteral("feed.json"), feedJson(57, "1.4.2"));
    store.update([](Prefs& p) { p.autoInstallUpdates = false; });
    auto soon = updater(QStringLiteral("feed.json"), [](UpdaterOptions& o) { o.firstCheckDelayMs = 50; });
    soon->start();
    EXPECT_EQ(soon->message(), QStringLiteral("Versión 1.4.2 (57)"));
    EXPECT_TRUE(waitUntil([&] { return soon->message() == QStringLiteral("Estás al día (1.4.2)"); }));

    auto repeating = updater(QStringLiteral("feed.json"), [](UpdaterOptions& o) {
        o.firstCheckDelayMs = 24 * 3600 * 1000;
        o.checkIntervalMs = 100;
    });
    repeating->start();
    serve(QStringLiteral("feed.json"), feedJson(58, "1.5.0"));
    EXPECT_TRUE(waitUntil([&] { return notifier.sent.size() == 1; }));
    EXPECT_TRUE(waitUntil([&] { return notifier.sent.size() == 2; })); // and again
}

} // namespace
