// What the installers rely on without a display: the login entry's path to the program, the
// updater's test of a replaceable bundle, the icon files the build lays out, and the Debian package
// built by cpack, listed with dpkg-deb and checked by lintian.
#include "AppIcon.h"
#include "FileOps.h"
#include "InstallTestSupport.h"
#include "LoginItem.h"
#include "Symbols.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSvgRenderer>
#include <QTemporaryDir>

namespace morvane {
namespace {

const QString kBundle = QStringLiteral(MORVANE_APP_BUNDLE);

QByteArray run(const QString& program, const QStringList& args, int* exitCode) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool done = p.waitForStarted(10000) && p.waitForFinished(120000);
    if (!done)
        p.kill(), p.waitForFinished(3000);
    *exitCode = done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAll();
}

bool touch(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

TEST(LoginLauncher, PrefersALinkThatLeadsToTheRunningExecutable) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exe = dir.filePath(QStringLiteral("lib/Morvane.app/bin/morvane"));
    const QString other = dir.filePath(QStringLiteral("other/morvane"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("lib/Morvane.app/bin"))));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("other"))));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("bin"))));
    ASSERT_TRUE(touch(exe) && touch(other));
    const QString toExe = dir.filePath(QStringLiteral("bin/to-exe"));
    const QString toOther = dir.filePath(QStringLiteral("bin/to-other"));
    const QString dangling = dir.filePath(QStringLiteral("bin/dangling"));
    ASSERT_TRUE(QFile::link(exe, toExe) && QFile::link(other, toOther));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("gone")), dangling));
    // The link through the bundle's folder, as ~/.local/bin/morvane leads after an update.
    const QString viaFolder = dir.filePath(QStringLiteral("bin/via-folder"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("lib/Morvane.app/bin/../bin/morvane")), viaFolder));

    const struct {
        const char* what;
        QString executable;
        QStringList links;
        QString expected;
    } cases[] = {
        {"no links", exe, {}, exe},
        {"the matching link", exe, {toOther, dangling, toExe}, toExe},
        {"first match wins", exe, {viaFolder, toExe}, viaFolder},
        {"links elsewhere only", exe, {toOther, dangling, dir.filePath("missing")}, exe},
        {"an executable that is gone", dir.filePath("gone"), {dangling}, dir.filePath("gone")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoginItem::launcherFor(c.executable, c.links), c.expected) << c.what;
}

TEST(Replaceable, NeedsWriteAccessToTheBundleAndTheFolderHoldingIt) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString parent = dir.filePath(QStringLiteral("lib"));
    const QString bundle = parent + QStringLiteral("/Morvane.app");
    ASSERT_TRUE(QDir().mkpath(bundle + QStringLiteral("/bin")));
    const auto rw = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const auto ro = QFile::ReadOwner | QFile::ExeOwner;
    const QString denied = fileops::errorText(EACCES);

    const struct {
        const char* what;
        QFile::Permissions parentMode;
        QFile::Permissions bundleMode;
        QString path;
        std::optional<QString> expected;
    } cases[] = {
        {"both writable", rw, rw, bundle, std::nullopt},
        {"read-only folder holding it", ro, rw, bundle, denied},
        {"read-only bundle", rw, ro, bundle, denied},
        // A missing bundle is the installation's own failure to report, in its own words.
        {"missing bundle", rw, rw, parent + QStringLiteral("/Gone.app"), std::nullopt},
        {"not running from a bundle", rw, rw, QString(), std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(QFile::setPermissions(parent, c.parentMode) &&
                    QFile::setPermissions(bundle, c.bundleMode));
        std::optional<QString> answer;
        {
            test::PermissionBitsHold hold;
            ASSERT_TRUE(hold.ok());
            answer = fileops::replaceable(c.path);
        }
        EXPECT_EQ(answer, c.expected) << c.what;
    }
    ASSERT_TRUE(QFile::setPermissions(parent, rw) && QFile::setPermissions(bundle, rw));
}

TEST(AppIconFiles, EverySizeIsTheTileWithThePanelPointer) {
    const QString theme = kBundle + QStringLiteral("/share/icons/hicolor/");
    for (const int size : appicon::kSizes) {
        const QImage png(theme + QStringLiteral("%1x%1/apps/app.morvane.Morvane.png").arg(size));
        ASSERT_EQ(png.size(), QSize(size, size)) << size;
        EXPECT_EQ(qAlpha(png.pixel(0, 0)), 0) << size; // a rounded tile leaves the corners clear
        EXPECT_EQ(qAlpha(png.pixel(size - 1, size - 1)), 0) << size;
        const QRgb edge = png.pixel(size / 8 + 1, size / 2); // on the tile, left of the glyph
        EXPECT_EQ(qAlpha(edge), 255) << size;
        EXPECT_GT(qBlue(edge), qRed(edge) + 80) << size;
    }

    // Where the panel's pointer symbol is solid, the large icon is white: the same drawing.
    const QImage big = QImage(theme + QStringLiteral("512x512/apps/app.morvane.Morvane.png"))
                           .convertToFormat(QImage::Format_ARGB32);
    QImage glyph(512, 512, QImage::Format_ARGB32);
    glyph.fill(Qt::transparent);
    {
        QPainter p(&glyph);
        const qreal body = 512 - 2 * 32.0, inset = body * 0.19;
        symbols::paint(p, Symbol::pointerMotion,
                       QRectF(32 + inset, 32 + inset, body - 2 * inset, body - 2 * inset), Qt::white);
    }
    int solid = 0, white = 0;
    for (int y = 0; y < 512; y += 2) {
        for (int x = 0; x < 512; x += 2) {
            if (qAlpha(glyph.pixel(x, y)) < 255)
                continue;
            ++solid;
            white += qRed(big.pixel(x, y)) > 240 && qBlue(big.pixel(x, y)) > 240 ? 1 : 0;
        }
    }
    EXPECT_GT(solid, 2000);
    EXPECT_EQ(white, solid);

    // The scalable icon draws what the bitmaps hold.
    QSvgRenderer svg(theme + QStringLiteral("scalable/apps/app.morvane.Morvane.svg"));
    ASSERT_TRUE(svg.isValid());
    QImage fromSvg(128, 128, QImage::Format_ARGB32);
    fromSvg.fill(Qt::transparent);
    {
        QPainter p(&fromSvg);
        svg.render(&p, QRectF(0, 0, 128, 128));
    }
    const QImage png = QImage(theme + QStringLiteral("128x128/apps/app.morvane.Morvane.png"))
                           .convertToFormat(QImage::Format_ARGB32);
    qint64 difference = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            const QRgb a = fromSvg.pixel(x, y), b = png.pixel(x, y);
            difference += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b)) +
                          qAbs(qAlpha(a) - qAlpha(b));
        }
    }
    EXPECT_LT(difference / (128 * 128), 3); // anti-aliasing differs, nothing else
}

// scripts/run.sh builds the application folder's target alone, and scripts/install.sh --bundle takes
// that folder: the target makes the files the installer copies out of it too.
TEST(AppFolder, ItsTargetMakesTheFilesTheInstallerCopies) {
    if (QStringLiteral(MORVANE_GENERATOR) != QStringLiteral("Ninja"))
        GTEST_SKIP() << "the build graph is read from Ninja";
    int code = 0;
    const QString graph =
        QString::fromUtf8(run(QStringLiteral("ninja"),
                              {QStringLiteral("-C"), QStringLiteral(MORVANE_BUILD_DIR), QStringLiteral("-t"),
                               QStringLiteral("graph"), QStringLiteral("morvane_bundle")},
                              &code));
    ASSERT_EQ(code, 0) << graph.toStdString();
    const QString share =
        QDir(QStringLiteral(MORVANE_BUILD_DIR)).relativeFilePath(kBundle + QStringLiteral("/share/"));
    for (const QString& file : test::dataFiles().mid(0, 3)) // entry, metainfo, scalable icon
        EXPECT_TRUE(graph.contains(QStringLiteral("label=\"%1/%2\"").arg(share, file))) << file.toStdString();
}

TEST(DebianPackage, HoldsTheSystemWideLayoutAndPassesLintian) {
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    int code = 0;
    const QByteArray built = run(QStringLiteral(MORVANE_CPACK),
                                 {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                  QStringLiteral(MORVANE_CPACK_CONFIG), QStringLiteral("-B"), out.path()},
                                 &code);
    ASSERT_EQ(code, 0) << built.toStdString();
    const QStringList debs = QDir(out.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    ASSERT_EQ(debs.size(), 1) << built.toStdString();
    const QString deb = out.filePath(debs.first());

    const QString listing =
        QString::fromUtf8(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb}, &code));
    ASSERT_EQ(code, 0) << listing.toStdString();
    QStringList expected{QStringLiteral("./opt/morvane/Morvane.app/Info.json"),
                         QStringLiteral("./opt/morvane/Morvane.app/bin/morvane"),
                         QStringLiteral("./opt/morvane/Morvane.app/lib/libmorvane_app.so"),
                         QStringLiteral("./opt/morvane/Morvane.app/lib/libmorvane_update.so"),
                         QStringLiteral("./opt/morvane/Morvane.app/share/morvane/permiso.html"),
                         QStringLiteral("./usr/bin/morvane -> /opt/morvane/Morvane.app/bin/morvane"),
                         QStringLiteral("./usr/share/doc/morvane/copyright"),
                         QStringLiteral("./usr/share/doc/morvane/changelog.gz"),
                         QStringLiteral("./usr/share/man/man1/morvane.1.gz")};
    for (const QString& file : test::dataFiles())
        expected << QStringLiteral("./usr/share/") + file;
    for (const QString& path : expected)
        EXPECT_TRUE(listing.contains(QLatin1Char(' ') + path + QLatin1Char('\n'))) << path.toStdString();
    EXPECT_TRUE(listing.contains(QStringLiteral("-rwxr-xr-x root/root")));
    EXPECT_FALSE(listing.contains(QStringLiteral("./usr/local/")));

    // KWin grants fake input to the program the entry starts by an absolute path.
    const QByteArray entry = run(
        QStringLiteral("sh"),
        {QStringLiteral("-c"),
         QStringLiteral(
             "dpkg-deb --fsys-tarfile \"$1\" | tar -xO ./usr/share/applications/app.morvane.Morvane.desktop"),
         QStringLiteral("sh"), deb},
        &code);
    EXPECT_TRUE(entry.contains("\nExec=/usr/bin/morvane\n")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n"))
        << entry.toStdString();

    const QString control = QString::fromUtf8(
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Depends")}, &code));
    for (const char* loadedAtRunTime : {"qt6-qpa-plugins", "qt6-wayland", "qt6-translations-l10n"})
        EXPECT_TRUE(control.contains(QLatin1String(loadedAtRunTime))) << control.toStdString();
    EXPECT_TRUE(control.contains(QStringLiteral("libqt6widgets6"))) << control.toStdString();

    const QString lintian = QString::fromUtf8(run(QStringLiteral("lintian"), {deb}, &code));
    EXPECT_EQ(code, 0) << lintian.toStdString();
    EXPECT_FALSE(lintian.contains(QStringLiteral("E: "))) << lintian.toStdString();
}

} // namespace
} // namespace morvane
