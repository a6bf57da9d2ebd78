// An update from the local test feed into a bundle that scripts/install.sh installed: the
// exchange replaces ~/.local/lib/morvane/Morvane.app, the ~/.local/bin link starts the new
// program, and the uninstaller still removes everything of the installation.
#include "Bundle.h"
#include "UpdateTestSupport.h"
#include "Updater.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace morvane {
namespace {

using namespace test;

const QString kBundle = QStringLiteral(MORVANE_APP_BUNDLE);

// A copy of the build's application folder with its own version, build and publisher key, laid
// out again by the build's own tool.
bool stageBundle(const QString& dir, const QString& version, int build, const QString& key) {
    QDir(dir).removeRecursively();
    if (!QDir().mkpath(QFileInfo(dir).absolutePath()) ||
        !runProcess(QStringLiteral("cp"), {QStringLiteral("-R"), kBundle, dir}).ok())
        return false;
    return runProcess(
               QStringLiteral(MORVANE_CMAKE),
               {QStringLiteral("-DBUNDLE=") + dir, QStringLiteral("-DEXECUTABLE=") + kBundle + "/bin/morvane",
                QStringLiteral("-DVERSION=") + version, QStringLiteral("-DBUILD=") + QString::number(build),
                QStringLiteral("-DIDENTIFIER=app.morvane.Morvane"), QStringLiteral("-DPUBLIC_KEY=") + key,
                QStringLiteral("-P"), sourcePath(QStringLiteral("tools/MorvaneBundle.cmake"))})
        .ok();
}

TEST(InstalledUpdate, SwapsTheInstalledBundleAndTheLinkStartsTheNewOne) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString home = root.filePath(QStringLiteral("home"));
    const QString www = root.filePath(QStringLiteral("www"));
    const QString scratch = root.filePath(QStringLiteral("scratch"));
    for (const QString& d : {home, www, scratch})
        ASSERT_TRUE(QDir().mkpath(d));
    const SigningKey key = makeKey(scratch, QStringLiteral("publisher"));
    HttpsServer server(www);
    ASSERT_TRUE(server.ok());

    const QString v1 = scratch + QStringLiteral("/v1/Morvane.app");
    const QString v2 = scratch + QStringLiteral("/v2/Morvane.app");
    ASSERT_TRUE(stageBundle(v1, QStringLiteral("0.9.0"), 1, key.publicBase64));
    ASSERT_TRUE(stageBundle(v2, QStringLiteral("1.0.0"), 2, key.publicBase64));
    const QString name = QStringLiteral("Morvane-1.0.0.zip");
    const auto rel = release(v2, key, server.url(name).toString(), scratch + QStringLiteral("/out"));
    ASSERT_TRUE(rel);
    ASSERT_TRUE(QFile::copy(rel->archive, www + QLatin1Char('/') + name));

    const QStringList env{QStringLiteral("HOME=") + home, QStringLiteral("XDG_DATA_HOME=")};
    const auto installed =
        runProcess(QStringLiteral("bash"),
                   {sourcePath(QStringLiteral("scripts/install.sh")), QStringLiteral("--bundle"), v1}, env);
    ASSERT_TRUE(installed.ok()) << installed.output.toStdString();
    const QString bundle = home + QStringLiteral("/.local/lib/morvane/Morvane.app");
    const QString link = home + QStringLiteral("/.local/bin/morvane");

    MemoryDefaults defaults;
    SettingsStore store{defaults};
    FakeNotifier notifier;
    notifier.store = &store;
    QStringList relaunched;
    UpdaterOptions options;
    options.caCertificates = server.caPem();
    options.bundlePath = bundle;
    options.systemRelease = QStringLiteral("6.1.0-18-amd64");
    Updater updater(
        store, notifier, [&relaunched](const QString& exe) { relaunched << exe; }, options);
    EXPECT_EQ(updater.currentBuild(), 1);
    updater.install(rel->info);
    ASSERT_TRUE(waitUntil([&] { return !relaunched.isEmpty() || !updater.busy(); }, 60000));
    ASSERT_EQ(relaunched, QStringList{bundle + QStringLiteral("/bin/morvane")})
        << updater.message().toStdString();

    // The new folder sits at the installed path, alone, and the link leads into it.
    EXPECT_EQ(BundleInfo::read(bundle)->build, QStringLiteral("2"));
    EXPECT_TRUE(QFileInfo::exists(bundle + QStringLiteral("/Signature/Manifest")));
    EXPECT_EQ(entries(QFileInfo(bundle).absolutePath()), (QStringList{"Morvane.app", "installed-files"}));
    EXPECT_EQ(QFileInfo(link).canonicalFilePath(),
              QFileInfo(bundle + QStringLiteral("/bin/morvane")).canonicalFilePath());
    // Through the link, the new program answers with the new bundle's version.
    const auto version = runProcess(link, {QStringLiteral("--version")}, env);
    EXPECT_TRUE(version.ok()) << version.output.toStdString();
    EXPECT_TRUE(version.output.contains("Morvane 1.0.0\n")) << version.output.toStdString();

    const auto removed =
        runProcess(QStringLiteral("bash"), {sourcePath(QStringLiteral("scripts/uninstall.sh"))}, env);
    ASSERT_TRUE(removed.ok()) << removed.output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home + QStringLiteral("/.local")));
}

} // namespace
} // namespace morvane
