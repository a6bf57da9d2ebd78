// tools/morvane-release and the build's bundle layout: what they write, and that plain openssl
// verifies every signature the tool makes.

#include "Bundle.h"
#include "UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

using namespace morvane;
using namespace morvane::test;

namespace {

class ReleaseTool : public ::testing::Test {
protected:
    void SetUp() override {
        key = makeKey(dir.path(), QStringLiteral("publisher"));
        recipe.version = QStringLiteral("1.5.0");
        recipe.build = QStringLiteral("58");
        recipe.publicKey = key.publicBase64;
        bundle = dir.filePath(QStringLiteral("build/Morvane.app"));
        ASSERT_TRUE(layOutBundle(bundle, recipe));
        const auto pub =
            runProcess(QStringLiteral("openssl"),
                       {QStringLiteral("pkey"), QStringLiteral("-in"), key.pem, QStringLiteral("-pubout"),
                        QStringLiteral("-out"), dir.filePath(QStringLiteral("public.pem"))});
        ASSERT_TRUE(pub.ok());
    }

    bool opensslVerifies(const QString& file, const QString& sigfile) {
        return runProcess(QStringLiteral("openssl"),
                          {QStringLiteral("pkeyutl"), QStringLiteral("-verify"), QStringLiteral("-pubin"),
                           QStringLiteral("-inkey"), dir.filePath(QStringLiteral("public.pem")),
                           QStringLiteral("-rawin"), QStringLiteral("-in"), file, QStringLiteral("-sigfile"),
                           sigfile})
            .ok();
    }

    QTemporaryDir dir;
    SigningKey key;
    BundleRecipe recipe;
    QString bundle;
};

TEST_F(ReleaseTool, WritesAFeedAndArchiveThatOpensslVerifies) {
    const auto rel = release(bundle, key, QStringLiteral("https://updates.example/Morvane-1.5.0.zip"),
                             dir.filePath(QStringLiteral("dist")),
                             {QStringLiteral("--notes"), QStringLiteral("Arreglos \"varios\"\ny más"),
                              QStringLiteral("--minimum-system"), QStringLiteral("6.1")});
    ASSERT_TRUE(rel);
    EXPECT_EQ(rel->info.version, QStringLiteral("1.5.0"));
    EXPECT_EQ(rel->info.build, 58);
    EXPECT_EQ(rel->info.url, QStringLiteral("https://updates.example/Morvane-1.5.0.zip"));
    EXPECT_EQ(rel->info.notes, QStringLiteral("Arreglos \"varios\"\ny más"));
    EXPECT_EQ(rel->info.minimumSystem, QStringLiteral("6.1"));
    const QJsonObject feed = QJsonDocument::fromJson(rel->feedJson).object();
    EXPECT_TRUE(feed.value(QStringLiteral("build")).isDouble());

    const auto sum = runProcess(QStringLiteral("sha256sum"), {rel->archive});
    EXPECT_EQ(rel->info.sha256.toLatin1(), sum.output.left(64));
    EXPECT_EQ(QByteArray::fromBase64(rel->info.signature.toLatin1()),
              readFile(rel->archive + QStringLiteral(".sig")));
    EXPECT_TRUE(opensslVerifies(rel->archive, rel->archive + QStringLiteral(".sig")));

    // Morvane.app at the top level, nothing else there.
    const auto listing = runProcess(QStringLiteral("bsdtar"), {QStringLiteral("-tf"), rel->archive});
    ASSERT_TRUE(listing.ok());
    for (const QByteArray& line : listing.output.trimmed().split('\n'))
        EXPECT_TRUE(line.startsWith("Morvane.app/")) << line.toStdString();

    // The manifest signature verifies with openssl too.
    const QString out = dir.filePath(QStringLiteral("x"));
    QDir().mkpath(out);
    ASSERT_TRUE(
        runProcess(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), rel->archive, QStringLiteral("-C"), out})
            .ok());
    const QString sig = out + QStringLiteral("/Morvane.app/Signature/Manifest.sig");
    writeFile(sig + QStringLiteral(".bin"), QByteArray::fromBase64(readFile(sig).trimmed()));
    EXPECT_TRUE(opensslVerifies(out + QStringLiteral("/Morvane.app/Signature/Manifest"),
                                sig + QStringLiteral(".bin")));
    // The input bundle is left unsigned.
    EXPECT_FALSE(QFileInfo::exists(bundle + QStringLiteral("/Signature")));
}

TEST_F(ReleaseTool, RefusesBundlesItWouldLockUsersOutWith) {
    const SigningKey other = makeKey(dir.path(), QStringLiteral("other"));
    const QString dist = dir.filePath(QStringLiteral("dist"));
    const QString tool = sourcePath(QStringLiteral("tools/morvane-release"));
    const QStringList base{
        QStringLiteral("--bundle"), bundle, QStringLiteral("--url"), QStringLiteral("https://h/a.zip"),
        QStringLiteral("--out"),    dist,   QStringLiteral("--key")};
    EXPECT_FALSE(runProcess(tool, base + QStringList{other.pem}).ok()); // Info.json names another key
    EXPECT_TRUE(runProcess(tool, base + QStringList{other.pem, QStringLiteral("--allow-other-key")}).ok());

    BundleRecipe unreadable = recipe;
    unreadable.build = QStringLiteral("58b");
    ASSERT_TRUE(layOutBundle(bundle, unreadable));
    EXPECT_FALSE(runProcess(tool, base + QStringList{key.pem}).ok());
}

TEST(BuildBundle, TakesItsValuesFromTheBuildConfiguration) {
    const QString app = QStringLiteral(MORVANE_BUILT_BUNDLE);
    const auto info = BundleInfo::read(app);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->version, QStringLiteral(MORVANE_BUILT_VERSION));
    EXPECT_EQ(info->build, QStringLiteral(MORVANE_BUILT_BUILD));
    EXPECT_EQ(info->identifier, QStringLiteral(MORVANE_BUILT_IDENTIFIER));
    EXPECT_TRUE(QFileInfo(app + QStringLiteral("/bin/morvane")).isExecutable());
    EXPECT_EQ(readFile(app + QStringLiteral("/bin/morvane")), readFile(testAppPath()));
}

} // namespace
