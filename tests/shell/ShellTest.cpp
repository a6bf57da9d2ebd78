// The real program, started as a user would start it, under Xvfb on a private bus: the first
// launch, one instance per session, the snapshot path, and clicks on the icon in real panels
// (xfce4-panel and lxqt-panel hosting StatusNotifierItems, trayer hosting XEmbed icons), sent with
// xdotool.
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace morvane {
namespace {

const QString kApp = QStringLiteral(MORVANE_APP_BUNDLE "/bin/morvane");
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.ok());
        ASSERT_TRUE(home.isValid());
        control = bus.connect(QStringLiteral("shell-test"));
    }

    void TearDown() override {
        // The program first, then the panels it docked into.
        for (auto it = processes.rbegin(); it != processes.rend(); ++it) {
            auto& p = *it;
            p->terminate();
            if (!p->waitForFinished(3000))
                p->kill();
            p->waitForFinished(3000);
        }
        QDBusConnection::disconnectFromBus(control.name());
    }

    QProcessEnvironment environment(bool withDisplay = true) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (!withDisplay)
            env.remove(QStringLiteral("DISPLAY"));
        return env;
    }

    QProcess* start(const QString& program, const QStringList& args, bool withDisplay = true) {
        return start(program, args, environment(withDisplay));
    }

    QProcess* start(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                    QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
        processes.push_back(std::make_unique<QProcess>());
        QProcess* p = processes.back().get();
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(home.path());
        p->setProcessChannelMode(channels);
        p->start(program, args);
        EXPECT_TRUE(p->waitForStarted(5000)) << qPrintable(program);
        return p;
    }

    bool onBus(const QString& name) const { return control.interface()->isServiceRegistered(name).value(); }

    // The program's item is exported once the tray is set up, after the engine and the updater.
    bool itemExported() const {
        const QStringList names = control.interface()->registeredServiceNames().value();
        return std::any_of(names.cbegin(), names.cend(), [](const QString& n) {
            return n.startsWith(QStringLiteral("org.kde.StatusNotifierItem-"));
        });
    }

    QString conf() const {
        QFile f(home.filePath(QStringLiteral("morvane/morvane.conf")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // The program's status line, e.g. "Trabajando · próximo en 1 s".
    QString status() const {
        return QDBusInterface(QStringLiteral("app.morvane.Morvane"), QStringLiteral("/app/morvane/Morvane"),
                              QStringLiteral("app.morvane.Morvane"), control)
            .property("status")
            .toString();
    }

    // The switch as the engine last stored it.
    std::optional<bool> storedEnabled() const {
        const auto m = QRegularExpression(QStringLiteral("state\\.v1=\"?(\\d)")).match(conf());
        if (!m.hasMatch())
            return std::nullopt;
        return m.captured(1) == QStringLiteral("1");
    }

    static bool windowNamed(const QString& pattern, bool visibleOnly) {
        QStringList args{QStringLiteral("search")};
        if (visibleOnly)
            args << QStringLiteral("--onlyvisible");
        args << QStringLiteral("--name") << pattern;
        return test::run(QStringLiteral("xdotool"), args) == 0;
    }
    static bool popoverShown() { return windowNamed(QStringLiteral("^Morvane$"), true); }
    // What `xdotool search` prints for `arguments`.
    static QString search(const QStringList& arguments) {
        QByteArray out;
        test::run(QStringLiteral("xdotool"), QStringList{QStringLiteral("search")} + arguments, 10000, &out);
        return QString::fromUtf8(out).trimmed();
    }

    test::PrivateBus bus;
    QTemporaryDir home;
    QDBusConnection control{QString()};
    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(ShellTest, FirstLaunchOpensSettingsOnceAndASecondStartShowsThePopover) {
    test::DBusMock watcher(bus, {QStringLiteral("--template"), QStringLiteral(MORVANE_SNI_WATCHER)},
                           kWatcher);
    ASSERT_TRUE(watcher.ok());
    QProcess* first = start(kApp, {});
    ASSERT_TRUE(test::waitUntil(
        [&] { return itemExported() && onBus(QStringLiteral("app.morvane.Morvane")); }, 20000));
    EXPECT_TRUE(
        test::waitUntil([] { return windowNamed(QStringLiteral("^Preferencias de Morvane$"), true); }));
    EXPECT_TRUE(conf().contains(QStringLiteral("onboarded=true")));

    QProcess* second = start(kApp, {});
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(test::waitUntil(popoverShown));
    EXPECT_EQ(first->state(), QProcess::Running);

    // The next launch finds the flag: no window of its own.
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(5000));
    ASSERT_TRUE(test::waitUntil([&] { return !onBus(QStringLiteral("app.morvane.Morvane")); }));
    start(kApp, {});
    ASSERT_TRUE(test::waitUntil(
        [&] { return itemExported() && onBus(QStringLiteral("app.morvane.Morvane")); }, 20000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(windowNamed(QStringLiteral("^Preferencias de Morvane$"), false));
}

TEST_F(ShellTest, SnapshotsNeedNoDisplayAndStartNothing) {
    test::DBusMock watcher(bus, {QStringLiteral("--template"), QStringLiteral(MORVANE_SNI_WATCHER)},
                           kWatcher);
    ASSERT_TRUE(watcher.ok());
    QProcess* p = start(kApp, {QStringLiteral("--snapshot"), QStringLiteral("shots/out")}, false);
    ASSERT_TRUE(p->waitForFinished(60000));
    EXPECT_EQ(p->exitCode(), 0);
    const QStringList files =
        QDir(home.filePath(QStringLiteral("shots/out"))).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(files, (QStringList{QStringLiteral("menu.png"), QStringLiteral("pref-condiciones.png"),
                                  QStringLiteral("pref-general.png"), QStringLiteral("pref-horarios.png"),
                                  QStringLiteral("pref-movimiento.png")}));
    // No engine ran (it stores its run state on its first tick), no first-launch window, no tray item.
    EXPECT_FALSE(conf().contains(QStringLiteral("state.v1")));
    EXPECT_FALSE(conf().contains(QStringLiteral("onboarded")));
    EXPECT_TRUE(watcher.calls(QStringLiteral("/StatusNotifierWatcher")).isEmpty());
}

// Names of the program's windows that sway manages, the focused one marked with a leading '*'.
QStringList swayWindows(const test::HeadlessSway& sway) {
    QByteArray tree;
    if (test::run(QStringLiteral("swaymsg"),
                  {QStringLiteral("-s"), sway.ipcSocket(), QStringLiteral("-r"), QStringLiteral("-t"),
                   QStringLiteral("get_tree")},
                  5000, &tree) != 0)
        return {};
    QStringList names;
    std::function<void(const QJsonObject&)> walk = [&](const QJsonObject& node) {
        if (node.value(QStringLiteral("app_id")).toString() == QStringLiteral("app.morvane.Morvane"))
            names << (node.value(QStringLiteral("focused")).toBool() ? QStringLiteral("*") : QString()) +
                         node.value(QStringLiteral("name")).toString();
        for (const char* key : {"nodes", "floating_nodes"})
            for (const QJsonValue& child : node.value(QLatin1String(key)).toArray())
                walk(child.toObject());
    };
    walk(QJsonDocument::fromJson(tree).object());
    return names;
}

// Without a working XWayland (here a stale DISPLAY naming no server) the program is a Wayland
// client of its own: it says so in one line, starts, chooses the compositor's adapters, and its
// windows open there (the compositor places them).
TEST_F(ShellTest, OnWaylandWithoutXItsWindowsOpenNatively) {
    test::HeadlessSway sway;
    ASSERT_TRUE(sway.ok()) << "sway did not come up";
    QProcessEnvironment env = environment(false);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), sway.runtimeDir());
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), sway.waylandSocket());
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":55"));
    QProcess* app = start(kApp, {}, env, QProcess::ForwardedOutputChannel);
    const auto settingsShown = [&] {
        const QStringList names = swayWindows(sway);
        return names.contains(QStringLiteral("Preferencias de Morvane")) ||
               names.contains(QStringLiteral("*Preferencias de Morvane"));
    };
    EXPECT_TRUE(test::waitUntil(settingsShown, 20000)) << qPrintable(swayWindows(sway).join(u'|'));
    EXPECT_TRUE(test::waitUntil([&] { return onBus(QStringLiteral("app.morvane.Morvane")); }));
    EXPECT_EQ(app->state(), QProcess::Running);
    const QStringList fallback = QString::fromUtf8(app->readAllStandardError())
                                     .split(u'\n')
                                     .filter(QRegularExpression(QStringLiteral("DISPLAY=:55.*Wayland")));
    EXPECT_EQ(fallback.size(), 1) << qPrintable(fallback.join(u'|'));
}

// Where no window can open, one line says which variable and which package, and the status is 1:
// never Qt's abort with its own lines.
TEST_F(ShellTest, WhereNoDisplayCanStartItSaysWhyInOneLine) {
    QTemporaryDir noPlugins;
    const struct {
        const char* what;
        QList<std::pair<QString, QString>> vars;
        QStringList mentions;
    } rows[] = {
        {"no display at all", {}, {QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY")}},
        {"Wayland without Qt's Wayland module",
         {{QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-test")},
          {QStringLiteral("QT_QPA_PLATFORM_PLUGIN_PATH"), noPlugins.path()}},
         {QStringLiteral("WAYLAND_DISPLAY=wayland-test"), QStringLiteral("qt6-wayland")}},
        {"an X display that refuses the connection",
         {{QStringLiteral("DISPLAY"), QStringLiteral(":87")}},
         {QStringLiteral("DISPLAY=:87"), QStringLiteral("XAUTHORITY")}},
        {"a Wayland socket nobody listens on",
         {{QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-none")}},
         {QStringLiteral("WAYLAND_DISPLAY=wayland-none")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QProcessEnvironment env = environment(false);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        for (const auto& [name, value] : row.vars)
            env.insert(name, value);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(kApp, {});
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 1);
        const QList<QByteArray> lines = p.readAllStandardError().trimmed().split('\n');
        ASSERT_EQ(lines.size(), 1) << lines.join('|').constData();
        for (const QString& word : row.mentions)
            EXPECT_TRUE(lines[0].contains(word.toUtf8())) << lines[0].constData();
    }
}

// What the screen shows in `area`.
QImage grab(const QRect& area) {
    QByteArray png;
    test::run(QStringLiteral("import"),
              {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
               QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y()),
               QStringLiteral("png:-")},
              10000, &png);
    return QImage::fromData(png, "PNG");
}

int differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return a.width() * a.height() + 1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += qAbs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 60;
    return n;
}

// The icon's bounding box inside `strip` (global coordinates): its light glyph meets its dark rim
// there, which neither the panels' own drawing nor the black desktop around them does.
QRect findIcon(const QRect& strip) {
    const QImage shot = grab(strip);
    const auto gray = [&](int x, int y) { return qGray(shot.pixel(x, y)); };
    QRect box;
    for (int y = 2; y < shot.height() - 2; ++y) {
        for (int x = 2; x < shot.width() - 2; ++x) {
            if (gray(x, y) < 80 && (gray(x - 2, y) > 235 || gray(x + 2, y) > 235 || gray(x, y - 2) > 235 ||
                                    gray(x, y + 2) > 235))
                box |= QRect(strip.x() + x, strip.y() + y, 1, 1);
        }
    }
    return box;
}

class PanelTest : public ShellTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PanelTest, ClicksOnTheIconOpenThePopoverAndSwitchTheEngine) {
    const QString panel = QString::fromLatin1(GetParam());
    if (panel == QStringLiteral("xfce4-panel")) {
        QDir().mkpath(home.filePath(QStringLiteral("xfce4/xfconf/xfce-perchannel-xml")));
        QFile::copy(QStringLiteral(MORVANE_PANELS_DIR "/xfce4-panel.xml"),
                    home.filePath(QStringLiteral("xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml")));
        // The panel reads its layout from xfconfd, which the bus would start with its own
        // environment: start it here, so that it reads the layout above.
        start(QStringLiteral(MORVANE_XFCONFD), {});
        ASSERT_TRUE(test::waitUntil([&] { return onBus(QStringLiteral("org.xfce.Xfconf")); }, 20000));
        start(QStringLiteral("xfce4-panel"), {QStringLiteral("--disable-wm-check")});
        ASSERT_TRUE(test::waitUntil([&] { return onBus(kWatcher); }, 20000));
    } else if (panel == QStringLiteral("lxqt-panel")) {
        // Debian 12's lxqt-panel keeps its default layout where only LXQt's session package
        // installs it (/etc/xdg/lxqt): without a layout of its own it shows an empty panel, with no
        // status notifier plugin and so no watcher.
        QDir().mkpath(home.filePath(QStringLiteral("lxqt")));
        QFile::copy(QStringLiteral(MORVANE_PANELS_DIR "/lxqt-panel.conf"),
                    home.filePath(QStringLiteral("lxqt/panel.conf")));
        start(QStringLiteral("lxqt-panel"), {});
        ASSERT_TRUE(test::waitUntil([&] { return onBus(kWatcher); }, 20000));
    } else {
        start(QStringLiteral("trayer"),
              {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
               QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
               QStringLiteral("--height"), QStringLiteral("28"), QStringLiteral("--transparent"),
               QStringLiteral("false"), QStringLiteral("--tint"), QStringLiteral("0xdddddd")});
        ASSERT_TRUE(test::waitUntil([] { return windowNamed(QStringLiteral("^panel$"), true); }, 20000));
    }
    // Not a first launch: no settings window over the desktop. Zen every two seconds, whatever the
    // X server's idle time, so that the icon soon shows the working state.
    QDir().mkpath(home.filePath(QStringLiteral("morvane")));
    QFile f(home.filePath(QStringLiteral("morvane/morvane.conf")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[General]\nonboarded=true\nprefs.v1=\"{\\\"autoCheckUpdates\\\":false,\\\"interval\\\":2,"
            "\\\"mode\\\":\\\"zen\\\",\\\"policy\\\":\\\"always\\\"}\"\n");
    f.close();
    start(kApp, {});
    const QRect strip(0, 0, 1280, 28); // the test server's screen is 1280 wide
    QRect icon;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            icon = findIcon(strip);
            return icon.width() >= 8 && storedEnabled().has_value();
        },
        20000));
    const QString x = QString::number(icon.center().x());
    const QString y = QString::number(icon.center().y());
    // The icon's place, with room for the wider working icon.
    const QRect place = icon.adjusted(-4, -3, 8, 3);
    const QImage offShot = grab(place);
    const auto xdotool = [](const QStringList& args) { return test::run(QStringLiteral("xdotool"), args); };
    EXPECT_EQ(storedEnabled(), false);

    xdotool({QStringLiteral("mousemove"), x, y, QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(test::waitUntil(popoverShown, 10000));
    EXPECT_EQ(storedEnabled(), false);
    // At the icon: over the icon's column, its top at most just below the panel.
    const QString geometry =
        search({QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QStringLiteral("^Morvane$"),
                QStringLiteral("getwindowgeometry"), QStringLiteral("--shell")});
    const auto at = [&](const char* key) {
        return QRegularExpression(QStringLiteral("\\b%1=(\\d+)").arg(QLatin1String(key)))
            .match(geometry)
            .captured(1)
            .toInt();
    };
    const QRect popover(at("X"), at("Y"), at("WIDTH"), at("HEIGHT"));
    EXPECT_TRUE(popover.left() <= icon.center().x() && icon.center().x() <= popover.right())
        << geometry.toStdString();
    EXPECT_TRUE(popover.top() >= icon.top() && popover.top() <= strip.bottom() + 40)
        << geometry.toStdString();
    // Escape closes it (the popover holds the keyboard while open).
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    EXPECT_TRUE(test::waitUntil([] { return !popoverShown(); }));

    xdotool({QStringLiteral("mousemove"), x, y, QStringLiteral("click"), QStringLiteral("3")});
    if (panel == QStringLiteral("xfce4-panel")) {
        // xfce keeps right clicks from its items and opens the item's menu instead: the second
        // entry switches.
        test::waitUntil([] { return false; }, 300);
        xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"),
                 QStringLiteral("Return")});
    } else if (panel == QStringLiteral("lxqt-panel")) {
        // So does LXQt's for an item that names a menu: a window of the panel's beside the panel.
        EXPECT_TRUE(test::waitUntil([] {
            return search({QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                           QStringLiteral("lxqt-panel")})
                .contains(QLatin1Char('\n'));
        }));
        xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"),
                 QStringLiteral("Return")});
    }
    EXPECT_TRUE(test::waitUntil([&] { return storedEnabled() == true; }, 10000));
    // Away from the icon (no hover highlight), until a movement since that input shows the working
    // icon, with its motion lines.
    const QStringList away{QStringLiteral("mousemove"), QStringLiteral("640"), QStringLiteral("500")};
    xdotool(away);
    EXPECT_TRUE(test::waitUntil([&] { return status().startsWith(QStringLiteral("Trabajando")); }, 15000));
    EXPECT_TRUE(test::waitUntil([&] { return differingPixels(grab(place), offShot) > 10; }));

    xdotool({QStringLiteral("mousemove"), x, y, QStringLiteral("keydown"), QStringLiteral("ctrl"),
             QStringLiteral("click"), QStringLiteral("1"), QStringLiteral("keyup"), QStringLiteral("ctrl")});
    EXPECT_TRUE(test::waitUntil([&] { return storedEnabled() == false; }, 10000));
    EXPECT_FALSE(popoverShown());
    // Off, the panel shows the plain pointer again.
    xdotool(away);
    EXPECT_TRUE(test::waitUntil([&] { return differingPixels(grab(place), offShot) <= 2; }, 10000))
        << differingPixels(grab(place), offShot);
}

INSTANTIATE_TEST_SUITE_P(Panels, PanelTest, ::testing::Values("xfce4-panel", "lxqt-panel", "trayer"),
                         [](const auto& info) {
                             const std::string panel = info.param;
                             return panel == "xfce4-panel"  ? std::string("xfce")
                                    : panel == "lxqt-panel" ? std::string("lxqt")
                                                            : panel;
                         });

} // namespace
} // namespace morvane
