// The working directory, the exchange of the two folders, and the removal of leftovers.

#include "FileOps.h"
#include "UpdateTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

mode_t modeOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode;
}

TEST(WorkDir, IsPrivateNamedByUuidAndNeverReused) {
    QTemporaryDir parent;
    const mode_t oldMask = ::umask(0);
    QString error;
    const auto a = fileops::WorkDir::create(parent.path(), &error);
    const auto b = fileops::WorkDir::create(parent.path(), &error);
    ::umask(oldMask);
    ASSERT_TRUE(a && b) << error.toStdString();
    EXPECT_NE(a->path(), b->path());
    EXPECT_EQ(QFileInfo(a->path()).absolutePath(), parent.path());
    EXPECT_TRUE(fileops::isWorkDirName(QFileInfo(a->path()).fileName().toLatin1()));
    EXPECT_EQ(modeOf(a->path()) & 07777, 0700u);

    EXPECT_FALSE(fileops::WorkDir::create(parent.filePath(QStringLiteral("missing")), &error));
    EXPECT_EQ(error, QStringLiteral("No such file or directory"));
}

TEST(WorkDir, NameCheckWantsTheCanonicalUppercaseUuid) {
    EXPECT_TRUE(fileops::isWorkDirName("morvane-update-0F8FAD5B-D9CB-469F-A165-70867728950E"));
    EXPECT_FALSE(fileops::isWorkDirName("morvane-update-0f8fad5b-d9cb-469f-a165-70867728950e"));
    EXPECT_FALSE(fileops::isWorkDirName("morvane-update-0F8FAD5BD9CB469FA16570867728950E"));
    EXPECT_FALSE(fileops::isWorkDirName("morvane-update-0F8FAD5B-D9CB-469F-A165-70867728950E-x"));
    EXPECT_FALSE(fileops::isWorkDirName("Morvane.app"));
}

TEST(Exchange, SwapsTwoFoldersOrReportsWhyNot) {
    QTemporaryDir root;
    const QString a = root.filePath(QStringLiteral("a")), b = root.filePath(QStringLiteral("b"));
    QDir().mkpath(a);
    QDir().mkpath(b);
    writeFile(a + QStringLiteral("/which"), "new");
    writeFile(b + QStringLiteral("/which"), "old");
    EXPECT_EQ(fileops::exchange(a, b), std::nullopt);
    EXPECT_EQ(readFile(b + QStringLiteral("/which")), "new");
    EXPECT_EQ(readFile(a + QStringLiteral("/which")), "old");
    EXPECT_EQ(fileops::exchange(a, root.filePath(QStringLiteral("gone"))),
              QStringLiteral("No such file or directory"));
    EXPECT_EQ(readFile(a + QStringLiteral("/which")), "old");
}

TEST(RemoveTree, NeverFollowsSymlinks) {
    QTemporaryDir root;
    const QString keep = root.filePath(QStringLiteral("keep"));
    QDir().mkpath(keep);
    writeFile(keep + QStringLiteral("/precious"), "x");
    const QString doomed = root.filePath(QStringLiteral("doomed"));
    QDir().mkpath(doomed + QStringLiteral("/deep/er"));
    writeFile(doomed + QStringLiteral("/deep/er/f"), "y");
    QFile::link(keep, doomed + QStringLiteral("/deep/link-to-keep"));
    QFile::link(keep + QStringLiteral("/precious"), doomed + QStringLiteral("/link-to-file"));

    const int fd = ::open(QFile::encodeName(root.path()).constData(), O_RDONLY | O_DIRECTORY);
    int firsts = 0;
    EXPECT_TRUE(fileops::removeTree(fd, "doomed", [&] { ++firsts; }));
    ::close(fd);
    EXPECT_EQ(firsts, 1);
    EXPECT_FALSE(QFileInfo::exists(doomed));
    EXPECT_EQ(readFile(keep + QStringLiteral("/precious")), "x");
}

TEST(Recover, RemovesOnlyAbandonedWorkDirsBesideTheBundle) {
    QTemporaryDir root;
    const QString bundle = root.filePath(QStringLiteral("Morvane.app"));
    QDir().mkpath(bundle);
    writeFile(bundle + QStringLiteral("/Info.json"), "{}");
    QString error;
    // Abandoned: its installer is gone (its lock went with it).
    auto abandoned = fileops::WorkDir::create(root.path(), &error);
    ASSERT_TRUE(abandoned);
    const QString abandonedPath = abandoned->path();
    QDir().mkpath(abandonedPath + QStringLiteral("/Morvane.app/bin"));
    writeFile(abandonedPath + QStringLiteral("/Morvane.app/bin/morvane"), "old");
    abandoned.reset();
    // In use by a running installation.
    const auto live = fileops::WorkDir::create(root.path(), &error);
    ASSERT_TRUE(live);
    // Not ours to touch: other names, a file with a working directory's name, a symlink to one.
    QDir().mkpath(root.filePath(QStringLiteral("morvane-update-notauuid")));
    const QString fileNamedLikeOne =
        root.filePath(QStringLiteral("morvane-update-11111111-2222-3333-4444-555555555555"));
    writeFile(fileNamedLikeOne, "f");
    const QString elsewhere = root.filePath(QStringLiteral("elsewhere"));
    QDir().mkpath(elsewhere);
    writeFile(elsewhere + QStringLiteral("/precious"), "x");
    QFile::link(elsewhere,
                root.filePath(QStringLiteral("morvane-update-AAAAAAAA-2222-3333-4444-555555555555")));

    EXPECT_EQ(fileops::recover(bundle), 1);
    EXPECT_FALSE(QFileInfo::exists(abandonedPath));
    EXPECT_TRUE(QFileInfo::exists(live->path()));
    EXPECT_TRUE(QFileInfo::exists(fileNamedLikeOne));
    EXPECT_EQ(readFile(elsewhere + QStringLiteral("/precious")), "x");
    EXPECT_TRUE(QFileInfo::exists(bundle + QStringLiteral("/Info.json")));
}

} // namespace
