// An installation this user may not replace (a system-wide one, say): the updater still checks
// and announces a newer build, but "Instalar" is refused before anything is downloaded, with the
// system's reason, and the installed application stays exactly as it was.
#include "InstallTestSupport.h"
#include "Manifest.h"
#include "UpdateTestSupport.h"
#include "Updater.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace morvane {
namespace {

using namespace test;

TEST(ReadOnlyBundle, AnnouncesButRefusesToInstallBeforeDownloading) {
    Installation inst;
    ASSERT_TRUE(inst.ok);
    HttpsServer server(inst.serverRoot);
    ASSERT_TRUE(server.ok());
    const QString urlBase = server.url(QString()).toString();
    BundleRecipe recipe;
    recipe.version = QStringLiteral("1.5.0");
    recipe.build = QStringLiteral("58");
    recipe.publicKey = inst.key.publicBase64;
    const auto rel = inst.publish(recipe, QStringLiteral("Morvane-1.5.0.zip"), urlBase);
    ASSERT_TRUE(rel);
    ASSERT_TRUE(QDir().mkpath(inst.serverRoot + QStringLiteral("/software/morvane")));
    ASSERT_TRUE(writeFile(inst.serverRoot + QStringLiteral("/software/morvane/appcast.json"), rel->feedJson));
    const auto before = manifest::scan(inst.bundle);
    ASSERT_TRUE(before);

    const auto rw = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const auto ro = QFile::ReadOwner | QFile::ExeOwner;
    const struct {
        const char* what;
        QString readOnly;
    } cases[] = {
        {"the folder holding the bundle", inst.installDir},
        {"the bundle itself", inst.bundle},
    };
    for (const auto& c : cases) {
        MemoryDefaults defaults;
        SettingsStore store{defaults}; // installing automatically is the default
        FakeNotifier notifier;
        notifier.store = &store;
        QStringList steps, relaunched;
        UpdaterOptions options;
        options.feedUrl = server.url(QStringLiteral("software/morvane/appcast.json"));
        options.caCertificates = server.caPem();
        options.bundlePath = inst.bundle;
        options.systemRelease = QStringLiteral("6.1.0-18-amd64");
        options.observe = [&steps](InstallStep s) { steps << stepName(s); };
        Updater updater(
            store, notifier, [&relaunched](const QString& exe) { relaunched << exe; }, options);

        ASSERT_TRUE(QFile::setPermissions(c.readOnly, ro)) << c.what;
        {
            PermissionBitsHold hold;
            ASSERT_TRUE(hold.ok());
            updater.check(false);
            ASSERT_TRUE(waitUntil([&] { return !updater.busy(); }, 30000)) << c.what;
            EXPECT_EQ(updater.message(), QStringLiteral("Hay una versión nueva: 1.5.0")) << c.what;
            ASSERT_TRUE(updater.available()) << c.what;
            ASSERT_EQ(notifier.sent.size(), 1u) << c.what;
            EXPECT_EQ(notifier.sent[0],
                      (Note{"Morvane 1.5.0 disponible", "Abrí el menú de Morvane para instalarla."}))
                << c.what;

            updater.install(*updater.available());
            // Refused on the spot: no download was started, nothing is under way.
            EXPECT_FALSE(updater.busy()) << c.what;
            EXPECT_EQ(updater.message(), QStringLiteral("No se pudo reemplazar la app: Permission denied"))
                << c.what;
        }
        ASSERT_TRUE(QFile::setPermissions(c.readOnly, rw)) << c.what;
        EXPECT_TRUE(steps.isEmpty()) << c.what;
        EXPECT_TRUE(relaunched.isEmpty()) << c.what;
        EXPECT_EQ(manifest::scan(inst.bundle), before) << c.what;
        EXPECT_EQ(entries(inst.installDir), QStringList{QStringLiteral("Morvane.app")}) << c.what;
    }
}

} // namespace
} // namespace morvane
