// scripts/install.sh and scripts/uninstall.sh in a temporary home: every file where it belongs,
// the desktop entry and metainfo accepted by their validators, the installed program started
// through ~/.local/bin under Xvfb on a private bus and driven by its command-line flags through
// the same link, and an uninstallation that leaves only the user's settings behind.
#include "InstallTestSupport.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace morvane {
namespace {

const QString kBundle = QStringLiteral(MORVANE_APP_BUNDLE);
const QString kScripts = QStringLiteral(MORVANE_SOURCE_DIR "/scripts/");

// Every path below `dir`, relative to it, folders with a trailing slash.
QStringList tree(const QString& dir) {
    QStringList paths;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        paths << QDir(dir).relativeFilePath(path) + (info.isDir() && !info.isSymLink() ? "/" : "");
    }
    paths.sort();
    return paths;
}

class UserInstall : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(bus.ok());
        home = root.filePath(QStringLiteral("home"));
        ASSERT_TRUE(QDir().mkpath(home));
        control = bus.connect(QStringLiteral("install-test"));
    }

    void TearDown() override {
        for (auto& p : programs) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished(3000);
        }
        QDBusConnection::disconnectFromBus(control.name());
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        if (!dataHome.isEmpty())
            env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return env;
    }

    int script(const QString& name, const QStringList& args, QByteArray* output) {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("bash"), QStringList{kScripts + name} + args);
        const bool done = p.waitForFinished(60000);
        *output = p.readAll();
        return done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    // The installed program as a client of the running one: exit code, standard output in `out`.
    int command(const QString& program, const QStringList& args, QByteArray* out) {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(program, args);
        const bool done = p.waitForFinished(20000);
        *out = p.readAllStandardOutput();
        return done && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    QProcess* start(const QString& program) {
        programs.push_back(std::make_unique<QProcess>());
        QProcess* p = programs.back().get();
        p->setProcessEnvironment(environment());
        p->setWorkingDirectory(home);
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(program, {});
        EXPECT_TRUE(p->waitForStarted(5000));
        return p;
    }

    bool onBus(const QString& name) const { return control.interface()->isServiceRegistered(name).value(); }

    QTemporaryDir root;
    QString home;
    QString dataHome; // empty: ~/.local/share
    test::PrivateBus bus;
    QDBusConnection control{QString()};
    std::vector<std::unique_ptr<QProcess>> programs;
};

TEST_F(UserInstall, EveryFileInPlaceTheProgramStartsAndUninstallLeavesTheSettings) {
    const struct {
        const char* what;
        QString dataHome;
    } cases[] = {
        {"default data home", QString()},
        {"XDG_DATA_HOME", root.filePath(QStringLiteral("data"))},
    };
    for (const auto& c : cases) {
        dataHome = c.dataHome;
        const QString data = dataHome.isEmpty() ? home + QStringLiteral("/.local/share") : dataHome;
        const QString installed = home + QStringLiteral("/.local/lib/morvane/Morvane.app");
        const QString link = home + QStringLiteral("/.local/bin/morvane");
        QByteArray out;
        ASSERT_EQ(script(QStringLiteral("install.sh"), {QStringLiteral("--bundle"), kBundle}, &out), 0)
            << c.what << out.toStdString();

        // The bundle whole, the link into it, the desktop files, the record.
        EXPECT_EQ(tree(installed), tree(kBundle)) << c.what;
        EXPECT_TRUE(QFileInfo(installed + QStringLiteral("/bin/morvane")).isExecutable()) << c.what;
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), installed + QStringLiteral("/bin/morvane")) << c.what;
        for (const QString& file : test::dataFiles())
            EXPECT_TRUE(QFileInfo(data + QLatin1Char('/') + file).isFile())
                << c.what << ' ' << file.toStdString();
        EXPECT_TRUE(QFileInfo::exists(home + QStringLiteral("/.local/lib/morvane/installed-files")))
            << c.what;

        const QString desktop = data + QStringLiteral("/applications/app.morvane.Morvane.desktop");
        QFile entry(desktop);
        ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
        const QByteArray text = entry.readAll();
        EXPECT_TRUE(text.contains("\nExec=\"" + link.toUtf8() + "\"\n")) << c.what;
        // With Exec's absolute path, this lets KDE Plasma's KWin take Morvane's pointer input.
        EXPECT_TRUE(text.contains("\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n")) << c.what;
        EXPECT_EQ(test::run(QStringLiteral("desktop-file-validate"), {desktop}, 10000, &out), 0)
            << out.toStdString();
        EXPECT_EQ(test::run(QStringLiteral("appstreamcli"),
                            {QStringLiteral("validate"), QStringLiteral("--no-net"),
                             data + QStringLiteral("/metainfo/app.morvane.Morvane.metainfo.xml")},
                            30000, &out),
                  0)
            << out.toStdString();

        // Started through the link, as the desktop entry starts it.
        QProcess* program = start(link);
        EXPECT_TRUE(test::waitUntil([&] { return onBus(QStringLiteral("app.morvane.Morvane")); }, 20000))
            << c.what;
        // Its settings go to ~/.config/morvane (the first launch stores the onboarded flag).
        const QString conf = home + QStringLiteral("/.config/morvane/morvane.conf");
        EXPECT_TRUE(test::waitUntil([&] { return QFileInfo::exists(conf); }, 10000)) << c.what;
        // The link takes the command-line flags to the running instance as well.
        EXPECT_EQ(command(link, {QStringLiteral("--for"), QStringLiteral("30m")}, &out), 0) << c.what;
        EXPECT_EQ(command(link, {QStringLiteral("--status")}, &out), 0) << c.what;
        EXPECT_TRUE(out.contains("\nSe apaga en ")) << c.what << ' ' << out.toStdString();
        EXPECT_EQ(command(link, {QStringLiteral("--off")}, &out), 0) << c.what;
        EXPECT_EQ(command(link, {QStringLiteral("--status")}, &out), 0) << c.what;
        // Then the verdict line: nothing has moved in the few seconds the program ran.
        EXPECT_EQ(out, QByteArray("Apagado\nTodavía no se comprobó ningún movimiento\n")) << c.what;
        EXPECT_EQ(command(link, {QStringLiteral("--quit")}, &out), 0) << c.what;
        ASSERT_TRUE(program->waitForFinished(10000));
        EXPECT_EQ(program->exitCode(), 0) << c.what;

        // The settings the program wrote and a login entry of the user's own survive.
        ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/.config/autostart")));
        QFile autostart(home + QStringLiteral("/.config/autostart/morvane.desktop"));
        ASSERT_TRUE(autostart.open(QIODevice::WriteOnly));
        autostart.write("[Desktop Entry]\nType=Application\nExec=\"" + link.toUtf8() + "\"\n");
        autostart.close();
        const QStringList settings = tree(home + QStringLiteral("/.config"));

        ASSERT_EQ(script(QStringLiteral("uninstall.sh"), {}, &out), 0) << c.what << out.toStdString();
        QStringList left = tree(home);
        left.removeAll(QStringLiteral(".config/"));
        for (const QString& s : settings)
            left.removeAll(QStringLiteral(".config/") + s);
        EXPECT_EQ(left, QStringList()) << c.what;
        EXPECT_EQ(tree(home + QStringLiteral("/.config")), settings) << c.what;
        if (!dataHome.isEmpty()) {
            EXPECT_EQ(tree(dataHome), QStringList()) << c.what;
        }
        QDir(home).removeRecursively();
        QDir(root.filePath(QStringLiteral("data"))).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(home));
    }
}

TEST_F(UserInstall, RefusesAnIncompleteBundleAndChangesNothing) {
    QTemporaryDir partial;
    ASSERT_TRUE(partial.isValid());
    const QString bundle = partial.filePath(QStringLiteral("Morvane.app"));
    ASSERT_EQ(test::run(QStringLiteral("cp"), {QStringLiteral("-R"), kBundle, bundle}), 0);
    ASSERT_TRUE(QFile::remove(bundle + QStringLiteral("/share/applications/app.morvane.Morvane.desktop")));
    QByteArray out;
    EXPECT_EQ(script(QStringLiteral("install.sh"), {QStringLiteral("--bundle"), bundle}, &out), 1);
    EXPECT_TRUE(out.contains("app.morvane.Morvane.desktop is missing")) << out.toStdString();
    EXPECT_EQ(tree(home), QStringList());
    EXPECT_EQ(script(QStringLiteral("uninstall.sh"), {}, &out), 1);
    EXPECT_TRUE(out.contains("not installed")) << out.toStdString();
}

} // namespace
} // namespace morvane
