// Pictures of the interface: which arguments ask for them, which files appear in which order, at
// which size, and that the dark ones are dark. The pictures of each run stay in the test's build
// folder under snapshots/, for looking at.
#include "Snapshot.h"
#include "LoginModel.h"
#include "MenuView.h"
#include "SettingsView.h"
#include "Theme.h"
#include "UiRig.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

namespace morvane::test {
namespace {

const QStringList kFiles{"menu.png", "pref-general.png", "pref-movimiento.png", "pref-condiciones.png",
                         "pref-horarios.png"};

double meanLuminance(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            sum += qGray(rgb.pixel(x, y));
    return sum / (double(rgb.width()) * rgb.height());
}

class SnapshotTest : public ::testing::Test {
protected:
    UiRig rig;
    LoginModel login{[] { return false; }, [](bool) { ADD_FAILURE() << "a picture changed the login item"; }};

    void TearDown() override { theme::applyAppearance(*qApp, false); }

    // Runs the snapshot path in `cwd` as the shell does.
    bool run(const QStringList& arguments) {
        return Snapshot::runIfRequested(arguments, *rig.store, *rig.engine, *rig.updater, login, rig.clock);
    }
};

TEST_F(SnapshotTest, OnlyASnapshotFlagFollowedByADirectoryAsksForPictures) {
    const std::pair<QStringList, bool> cases[] = {
        {{"morvane"}, false},
        {{"morvane", "--snapshot"}, false},
        {{"morvane", "--dark", "--snapshot"}, false},
        {{"morvane", "--snapshot", "out"}, true},
        {{"morvane", "--dark", "--snapshot", "out"}, true},
        {{"morvane", "--snapshot", "out", "--dark"}, true},
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(Snapshot::requested(arguments), expected) << arguments.join(' ').toStdString();
    char program[] = "morvane", flag[] = "--snapshot", out[] = "out";
    char* argv[] = {program, flag, out, nullptr};
    EXPECT_TRUE(Snapshot::requested(3, argv));
    EXPECT_FALSE(Snapshot::requested(2, argv));

    QTemporaryDir cwd;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path()));
    EXPECT_FALSE(run({"morvane", "--snapshot"}));
    EXPECT_TRUE(QDir(cwd.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    QDir::setCurrent(previous);
}

TEST_F(SnapshotTest, WritesTheFivePicturesInOrderIntoARelativeDirectory) {
    QTemporaryDir cwd;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path()));
    const bool ran = run({"morvane", "--snapshot", "out/light"});
    QDir::setCurrent(previous);
    ASSERT_TRUE(ran);
    const QDir out(cwd.filePath("out/light"));
    for (const QString& name : kFiles) {
        SCOPED_TRACE(name.toStdString());
        QImage image;
        ASSERT_TRUE(image.load(out.filePath(name), "PNG"));
        if (name == "menu.png") {
            EXPECT_EQ(image.width(), 2 * MenuView::kWidth);
            EXPECT_GT(image.height(), 2 * 100);
        } else {
            EXPECT_EQ(image.size(), SettingsView::kSize * 2);
        }
    }
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_EQ(rig.ticker.callback, nullptr); // the engine never started

    QStringList written;
    Snapshot::render(cwd.path(), *rig.store, *rig.engine, *rig.updater, login, rig.clock,
                     [&](const QString& path) { written << QFileInfo(path).fileName(); });
    EXPECT_EQ(written, kFiles);
}

TEST_F(SnapshotTest, DarkPicturesAreDarkerThanLightOnes) {
    // Kept beside the test binary for people to look at.
    const QString base = QDir::current().absoluteFilePath("snapshots");
    ASSERT_TRUE(run({"morvane", "--snapshot", base + "/light"}));
    ASSERT_TRUE(run({"morvane", "--dark", "--snapshot", base + "/dark"}));
    EXPECT_TRUE(theme::isDark(QApplication::palette()));
    for (const QString& name : kFiles) {
        SCOPED_TRACE(name.toStdString());
        const QImage light(base + "/light/" + name);
        const QImage dark(base + "/dark/" + name);
        ASSERT_FALSE(light.isNull());
        ASSERT_FALSE(dark.isNull());
        EXPECT_GT(meanLuminance(light), 160);
        EXPECT_LT(meanLuminance(dark), 100);
    }
}

} // namespace
} // namespace morvane::test
