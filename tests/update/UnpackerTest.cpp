// Unpacking: a genuine release unpacks faithfully; every hostile variant is refused for its own
// reason, and nothing lands outside the directory it was unpacked into.

#include "Unpacker.h"
#include "UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

class Unpacker : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        key = makeKey(dir.path(), QStringLiteral("k"));
        BundleRecipe recipe;
        recipe.publicKey = key.publicBase64;
        const QString bundle = dir.filePath(QStringLiteral("src/Morvane.app"));
        ASSERT_TRUE(layOutBundle(bundle, recipe));
        QDir().mkpath(bundle + QStringLiteral("/lib"));
        writeFile(bundle + QStringLiteral("/lib/data.txt"), QByteArray(100000, 'a'));
        QFile::link(QStringLiteral("data.txt"), bundle + QStringLiteral("/lib/alias"));
        // A link through another link, staying inside.
        QFile::link(QStringLiteral("../bin"), bundle + QStringLiteral("/lib/bin"));
        QFile::link(QStringLiteral("bin/morvane"), bundle + QStringLiteral("/lib/exe"));
        const auto rel =
            release(bundle, key, QStringLiteral("https://h/a.zip"), dir.filePath(QStringLiteral("out")));
        ASSERT_TRUE(rel);
        genuine = rel->archive;
    }

    // Unpacks `archive` into a fresh sandbox/target; `outside` lists what else is in the sandbox.
    UnpackError unpack(const QString& archive, const UnpackLimits& limits = {}) {
        const QString sandbox = dir.filePath(QStringLiteral("sandbox-%1").arg(++runs));
        target = sandbox + QStringLiteral("/target");
        QDir().mkpath(target);
        const int fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_DIRECTORY);
        const QByteArray bytes = readFile(archive);
        const UnpackError e = unpackZip(bytes, fd, limits);
        ::close(fd);
        outside = entries(sandbox);
        outside.removeAll(QStringLiteral("target"));
        return e;
    }

    QTemporaryDir dir;
    SigningKey key;
    QString genuine;
    QString target;
    QStringList outside;
    int runs = 0;
};

TEST_F(Unpacker, UnpacksAGenuineReleaseFaithfully) {
    ASSERT_EQ(unpack(genuine), UnpackError::none);
    const QString app = target + QStringLiteral("/Morvane.app");
    EXPECT_EQ(entries(target), QStringList{QStringLiteral("Morvane.app")});
    EXPECT_EQ(readFile(app + QStringLiteral("/lib/data.txt")), QByteArray(100000, 'a'));
    EXPECT_EQ(readFile(app + QStringLiteral("/bin/morvane")), readFile(testAppPath()));
    EXPECT_EQ(QFileInfo(app + QStringLiteral("/lib/alias")).symLinkTarget(),
              app + QStringLiteral("/lib/data.txt"));
    EXPECT_EQ(QFileInfo(app + QStringLiteral("/lib/exe")).canonicalFilePath(),
              app + QStringLiteral("/bin/morvane"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(app + QStringLiteral("/bin/morvane")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(::stat(QFile::encodeName(app + QStringLiteral("/Info.json")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(Unpacker, RefusesEachHostileVariantForItsOwnReason) {
    struct Case {
        const char* kind;
        UnpackError expected;
    };
    const std::vector<Case> cases{
        {"traversal", UnpackError::path},
        {"absolute", UnpackError::path},
        {"symlink-out", UnpackError::linkTarget},
        {"symlink-chain", UnpackError::linkTarget},
        {"symlink-chain-reversed", UnpackError::linkTarget},
        {"symlink-absolute", UnpackError::linkTarget},
        {"device", UnpackError::entryType},
        {"duplicate", UnpackError::duplicate},
        {"trailing-garbage", UnpackError::framing},
        {"truncated", UnpackError::framing},
        {"prefixed", UnpackError::framing},
        {"zip64-disagreeing", UnpackError::framing},
        {"hardlink", UnpackError::framing}, // a tar: ZIP cannot even express a hard link
    };
    for (const Case& c : cases) {
        const QString crafted = dir.filePath(QStringLiteral("%1.zip").arg(QLatin1String(c.kind)));
        ASSERT_TRUE(craftZip(QLatin1String(c.kind), genuine, crafted));
        EXPECT_EQ(unpack(crafted), c.expected) << c.kind;
        EXPECT_TRUE(outside.isEmpty()) << c.kind << ": " << outside.join(u' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/morvane-escaped-absolute")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("escaped-by-traversal"))));
}

TEST_F(Unpacker, AcceptsZip64EndRecordsBesideUnsaturatedClassicOnes) {
    const QString crafted = dir.filePath(QStringLiteral("zip64.zip"));
    ASSERT_TRUE(craftZip(QStringLiteral("zip64-unsaturated"), genuine, crafted));
    ASSERT_EQ(unpack(crafted), UnpackError::none);
    EXPECT_EQ(readFile(target + QStringLiteral("/Morvane.app/bin/morvane")), readFile(testAppPath()));
}

TEST_F(Unpacker, StopsADecompressionBombAtTheSizeCap) {
    const QString bomb = dir.filePath(QStringLiteral("bomb.zip"));
    ASSERT_TRUE(craftZip(QStringLiteral("bomb"), genuine, bomb, {QStringLiteral("64")}));
    EXPECT_LT(QFileInfo(bomb).size() - QFileInfo(genuine).size(), 1 << 20); // 64 MiB of zeros in < 1 MiB
    UnpackLimits limits;
    limits.maxTotalBytes = 16 << 20;
    EXPECT_EQ(unpack(bomb, limits), UnpackError::tooLarge);
    qint64 written = 0;
    for (QDirIterator it(target, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories); it.hasNext();)
        written += QFileInfo(it.next()).size();
    EXPECT_LE(written, limits.maxTotalBytes);
    // With room enough, the same archive unpacks.
    limits.maxTotalBytes = 128 << 20;
    EXPECT_EQ(unpack(bomb, limits), UnpackError::none);
}

TEST_F(Unpacker, CountsEntriesAndDepth) {
    UnpackLimits limits;
    limits.maxEntries = 3;
    EXPECT_EQ(unpack(genuine, limits), UnpackError::tooMany);
    limits = {};
    limits.maxDepth = 2; // Morvane.app/lib/data.txt has three components
    EXPECT_EQ(unpack(genuine, limits), UnpackError::path);
}

} // namespace
