// The same-signer check on bundles released by tools/morvane-release: a faithful bundle passes
// under the running bundle's key; every difference from the manifest, and every other signer,
// fails with its own text.

#include "Manifest.h"
#include "UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

const QString kCannot = QStringLiteral("No se pudo verificar la firma");
const QString kNotSigned = QStringLiteral("La actualización no está firmada por Brelix");

class SameSigner : public ::testing::Test {
protected:
    void SetUp() override {
        key = makeKey(dir.path(), QStringLiteral("publisher"));
        other = makeKey(dir.path(), QStringLiteral("other"));
        archive = releaseSignedBy(key, QStringLiteral("mine"));
        otherArchive = releaseSignedBy(other, QStringLiteral("theirs"));
    }

    QString releaseSignedBy(const SigningKey& k, const QString& name) {
        BundleRecipe recipe;
        recipe.publicKey = k.publicBase64;
        const QString bundle = dir.filePath(name + QStringLiteral("/Morvane.app"));
        EXPECT_TRUE(layOutBundle(bundle, recipe));
        QDir().mkpath(bundle + QStringLiteral("/share"));
        writeFile(bundle + QStringLiteral("/share/readme.txt"), "hola\n");
        QFile::link(QStringLiteral("readme.txt"), bundle + QStringLiteral("/share/leeme"));
        const auto rel = release(bundle, k, QStringLiteral("https://h/a.zip"),
                                 dir.filePath(name + QStringLiteral("-out")));
        return rel ? rel->archive : QString();
    }

    // A fresh unpacked copy of `zip`.
    QString unpacked(const QString& zip) {
        const QString into = dir.filePath(QStringLiteral("copy-%1").arg(++copies));
        QDir().mkpath(into);
        EXPECT_TRUE(
            runProcess(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), zip, QStringLiteral("-C"), into})
                .ok());
        return into + QStringLiteral("/Morvane.app");
    }

    QTemporaryDir dir;
    SigningKey key;
    SigningKey other;
    QString archive;
    QString otherArchive;
    int copies = 0;
};

TEST_F(SameSigner, AcceptsAFaithfulBundleSignedByTheRunningKey) {
    const QString app = unpacked(archive);
    EXPECT_EQ(manifest::verifySameSigner(app, key.publicBase64), std::nullopt);
    // The manifest lists every file and symlink, the signature files excepted.
    const auto listed = manifest::parse(readFile(app + QStringLiteral("/Signature/Manifest")));
    ASSERT_TRUE(listed);
    QStringList paths;
    for (const ManifestEntry& e : *listed)
        paths << QString::fromUtf8(e.path) + QLatin1Char(':') + QLatin1Char(e.kind);
    EXPECT_EQ(paths, (QStringList{"Info.json:f", "bin/morvane:x", "share/leeme:l", "share/readme.txt:f"}));
}

TEST_F(SameSigner, RefusesEveryDifferenceAndOtherSigners) {
    struct Case {
        const char* name;
        std::function<void(const QString& app)> change;
        QString expected;
        bool otherSigner = false;
        std::optional<QString> runningKey = std::nullopt; // default: the publisher's
    };
    const auto rm = [](const char* rel) {
        return [rel](const QString& app) { QFile::remove(app + '/' + rel); };
    };
    const std::vector<Case> cases{
        {"a file changed", [](const QString& a) { writeFile(a + "/share/readme.txt", "adiós\n"); },
         kNotSigned},
        {"a file added", [](const QString& a) { writeFile(a + "/bin/helper", "#!/bin/sh\n"); }, kNotSigned},
        {"a file added beside the signature",
         [](const QString& a) { writeFile(a + "/Signature/extra", "x"); }, kNotSigned},
        {"a file removed", rm("share/readme.txt"), kNotSigned},
        {"a symlink retargeted",
         [](const QString& a) {
             QFile::remove(a + "/share/leeme");
             QFile::link("../Info.json", a + "/share/leeme");
         },
         kNotSigned},
        {"a file turned into a symlink",
         [](const QString& a) {
             QFile::remove(a + "/share/readme.txt");
             QFile::link("leeme", a + "/share/readme.txt");
         },
         kNotSigned},
        {"execute bit dropped",
         [](const QString& a) { ::chmod(QFile::encodeName(a + "/bin/morvane").constData(), 0644); },
         kNotSigned},
        {"a FIFO added",
         [](const QString& a) { ::mkfifo(QFile::encodeName(a + "/share/pipe").constData(), 0644); },
         kNotSigned},
        {"manifest edited to match a change",
         [](const QString& a) {
             QByteArray m = readFile(a + "/Signature/Manifest");
             m.replace("share/readme.txt", "share/readme.txx");
             writeFile(a + "/Signature/Manifest", m);
             QFile::rename(a + "/share/readme.txt", a + "/share/readme.txx");
         },
         kNotSigned},
        {"signature garbled",
         [](const QString& a) { writeFile(a + "/Signature/Manifest.sig", "not base64\n"); }, kNotSigned},
        {"signed by another publisher", nullptr, kNotSigned, true},
        {"manifest missing", rm("Signature/Manifest"), kCannot},
        {"signature missing", rm("Signature/Manifest.sig"), kCannot},
        {"manifest is a symlink",
         [](const QString& a) {
             QFile::rename(a + "/Signature/Manifest", a + "/real-manifest");
             QFile::link("../real-manifest", a + "/Signature/Manifest");
         },
         kCannot},
        {"running bundle has no key", nullptr, kCannot, false, QString()},
        {"running key with a trailing newline", nullptr, kCannot, false, QStringLiteral("\n")},
    };
    for (const Case& c : cases) {
        const QString app = unpacked(c.otherSigner ? otherArchive : archive);
        if (c.change)
            c.change(app);
        std::optional<QString> running = key.publicBase64;
        if (c.runningKey)
            running =
                c.runningKey->isEmpty() ? std::nullopt : std::optional(key.publicBase64 + *c.runningKey);
        const auto fail = manifest::verifySameSigner(app, running);
        EXPECT_EQ(fail.value_or(Fail{"(passed)"}).text, c.expected) << c.name;
    }
}

TEST(ManifestFormat, ParsesOnlySortedWellFormedLines) {
    const QByteArray h(64, 'a');
    EXPECT_TRUE(manifest::parse(h + " f a\n" + h + " x b c\n" + h + " l d/e\n"));
    EXPECT_EQ(manifest::parse(h + " x b c\n")->front().path, "b c");
    const std::vector<QByteArray> refused{
        h + " f b\n" + h + " f a\n",    // not sorted
        h + " f a\n" + h + " f a\n",    // duplicate
        h + " f a",                     // no final newline
        h + " d a\n",                   // unknown kind
        QByteArray(64, 'A') + " f a\n", // uppercase digest
        h.left(63) + " f a\n",          // short digest
        h + " f ../a\n",                // climbs out
        h + " f /a\n",                  // absolute
        h + " f a//b\n",                // empty component
        h + " f a\tb\n",                // control character
    };
    for (const QByteArray& text : refused)
        EXPECT_FALSE(manifest::parse(text)) << text.toStdString();
}

} // namespace
