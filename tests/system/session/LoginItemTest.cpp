// LoginItem on temporary config trees, and AppRelauncher starting a real script.
#include "LoginItem.h"
#include "FakePorts.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

namespace morvane {
namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool writeScript(const QString& path, const QByteArray& body) {
    return writeFile(path, "#!/bin/sh\n" + body) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

class LoginItemTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    LoginItem item(const QString& executable = QStringLiteral("/opt/Morvane.app/bin/morvane")) {
        return LoginItem(configHome(), executable, [this](const QString& line) { log.append(line); });
    }
    QString configHome() const { return dir.filePath(QStringLiteral("config")); }
    QString autostart() const { return configHome() + QStringLiteral("/autostart"); }
    QString entry() const { return autostart() + QStringLiteral("/morvane.desktop"); }

    QTemporaryDir dir;
    QStringList log;
};

TEST_F(LoginItemTest, EnabledUnlessTheEntryIsMissingOrDisabled) {
    const struct {
        const char* content;
        bool enabled;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=morvane\n", true},
        {"[Desktop Entry]\nHidden=true\n", false},
        {"[Desktop Entry]\n  Hidden =  true  \n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=true\n", true},
        // Keys are case-sensitive, and only the main group counts.
        {"[Desktop Entry]\nhidden=true\n", true},
        {"[Desktop Entry]\nExec=morvane\n[Desktop Action quit]\nHidden=true\n", true},
        {"[Desktop Entry]\n# Hidden=true\n", true},
        // The last of repeated keys holds.
        {"[Desktop Entry]\nHidden=true\nHidden=false\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        ASSERT_TRUE(writeFile(entry(), c.content));
        EXPECT_EQ(item().isEnabled(), c.enabled);
    }
    QFile::remove(entry());
    EXPECT_FALSE(item().isEnabled());
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(LoginItemTest, EntryLivesUnderTheConfigHome) {
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", dir.path().toLocal8Bit());

    qputenv("XDG_CONFIG_HOME", "/somewhere/config");
    EXPECT_EQ(LoginItem().entryPath(), QStringLiteral("/somewhere/config/autostart/morvane.desktop"));
    // A relative value is invalid by the base directory rules and ignored.
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(LoginItem().entryPath(), dir.path() + QStringLiteral("/.config/autostart/morvane.desktop"));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(LoginItem().entryPath(), dir.path() + QStringLiteral("/.config/autostart/morvane.desktop"));

    savedConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", savedConfig);
    qputenv("HOME", savedHome);
}

TEST_F(LoginItemTest, SwitchingOnWritesTheEntryAndOffRemovesIt) {
    // An entry the user disabled is replaced whole.
    ASSERT_TRUE(writeFile(entry(), "[Desktop Entry]\nType=Application\nExec=old\nHidden=true\n"));
    item().set(true);
    EXPECT_TRUE(item().isEnabled());
    EXPECT_EQ(readAll(entry()), QByteArray("[Desktop Entry]\n"
                                           "Type=Application\n"
                                           "Name=Morvane\n"
                                           "Exec=\"/opt/Morvane.app/bin/morvane\"\n"
                                           "Terminal=false\n"
                                           "X-GNOME-Autostart-enabled=true\n"));

    item().set(false);
    EXPECT_FALSE(QFile::exists(entry()));
    EXPECT_FALSE(item().isEnabled());
    // Already absent is what was asked for, not an error.
    item().set(false);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(LoginItemTest, ExecValueQuotesAndEscapesThePath) {
    const struct {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/usr/bin/morvane", R"("/usr/bin/morvane")"},
        {"/opt/My Apps/Morvane.app/bin/morvane", R"("/opt/My Apps/Morvane.app/bin/morvane")"},
        // Inside quotes ", `, $ and \ take a backslash; then every backslash is doubled by the
        // string escapes, which a reader undoes first.
        {R"(/tmp/a$b)", R"("/tmp/a\\$b")"},
        {R"(/tmp/say "hi")", R"("/tmp/say \\"hi\\"")"},
        {R"(/tmp/back\slash)", R"("/tmp/back\\\\slash")"},
        {"/tmp/tick`s", R"("/tmp/tick\\`s")"},
        {"/tmp/it's", R"("/tmp/it's")"},
        {"/tmp/100%", R"("/tmp/100%%")"},
        {"/tmp/new\nline", R"("/tmp/new\nline")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(LoginItem::execValue(QString::fromUtf8(c.path)), QString::fromUtf8(c.exec));
    }
}

TEST_F(LoginItemTest, ADesktopLauncherStartsTheWrittenEntry) {
    // GLib's launcher is a real reader of the Exec rules.
    if (!QFile::exists(QStringLiteral("/usr/bin/gio")))
        GTEST_SKIP() << "gio (libglib2.0-bin) is not installed";
    const QString marker = dir.filePath(QStringLiteral("started"));
    const QString executable = dir.filePath(QStringLiteral("My Apps/a$b \"c\" back\\slash it's `tick`"));
    ASSERT_TRUE(writeScript(executable, "echo started > '" + marker.toLocal8Bit() + "'\n"));
    item(executable).set(true);
    ASSERT_TRUE(log.isEmpty());

    ASSERT_EQ(test::run(QStringLiteral("/usr/bin/gio"), {QStringLiteral("launch"), entry()}), 0);
    EXPECT_TRUE(test::waitUntil([&] { return readAll(marker) == "started\n"; }));
}

TEST_F(LoginItemTest, FailureWritesOneLogLineAndChangesNothing) {
    // Tests run as root, so permission bits stop nothing: a file where a folder must be does.
    ASSERT_TRUE(writeFile(autostart(), "not a folder"));
    item().set(true);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0], QStringLiteral("Morvane: login item error could not create the folder ") + autostart() +
                          QStringLiteral(": ") + qt_error_string(ENOTDIR));
    EXPECT_EQ(readAll(autostart()), "not a folder");
    EXPECT_FALSE(item().isEnabled());
}

TEST_F(LoginItemTest, EntryThatIsAFolderCannotBeWrittenNorRemoved) {
    ASSERT_TRUE(writeFile(entry() + QStringLiteral("/keep"), "kept"));

    item().set(true);
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("Morvane: login item error could not write ") + entry() +
                                  QStringLiteral(": ")))
        << log[0].toStdString();

    item().set(false);
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[1], QStringLiteral("Morvane: login item error could not remove ") + entry() +
                          QStringLiteral(": ") + qt_error_string(EISDIR));
    EXPECT_EQ(readAll(entry() + QStringLiteral("/keep")), "kept");
}

TEST(AppRelauncherTest, StartsTheExecutableAgainAndQuits) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString marker = dir.filePath(QStringLiteral("relaunched"));
    // A space in the path: the shell must receive it as one word.
    const QString executable = dir.filePath(QStringLiteral("Morvane app/bin/morvane"));
    ASSERT_TRUE(writeScript(executable, "echo \"$#\" > '" + marker.toLocal8Bit() + "'\n"));

    test::FakeTermination termination;
    AppRelauncher::relaunch(executable, termination);
    EXPECT_EQ(termination.requests, 1);
    // Started with no arguments of its own.
    EXPECT_TRUE(test::waitUntil([&] { return readAll(marker) == "0\n"; }, 10000));

    // A copy that cannot come back still goes.
    AppRelauncher::relaunch(dir.filePath(QStringLiteral("missing")), termination);
    EXPECT_EQ(termination.requests, 2);
}

} // namespace
} // namespace morvane
