// Morvane's GNOME Shell extension in a real headless GNOME Shell (43 on Debian 12, 48 on Debian 13)
// on private buses, with logind mocked on the system bus, and the real program on the shell's
// Wayland display: the extension loads, its indicator follows Morvane and its countdown, the Quick
// Settings toggle and menu reach Morvane, and Morvane offers no tray item while the extension runs.
// Set MORVANE_SCREENSHOT_DIR to keep pictures of the top bar and the open menu, light and dark.

#include "TestServers.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonValue>
#include <QProcess>
#include <QTemporaryDir>

using namespace morvane::test;

namespace {

const QString kUuid = QStringLiteral("morvane@morvane.app");
const QString kMorvane = QStringLiteral(MORVANE_APP_BUNDLE "/bin/morvane");

// `gnome-shell --headless` with data, configuration and runtime folders of its own; Morvane's
// extension is installed in its data folder before it starts, as after a log-in.
class HeadlessGnomeShell {
public:
    HeadlessGnomeShell(const PrivateBus& session, const PrivateBus& system)
        : m_bus(session.connect(QStringLiteral("gnome-shell-test"))) {
        QDir(m_dir.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString extensions = m_dir.filePath(QStringLiteral("data/gnome-shell/extensions/"));
        QDir().mkpath(extensions);
        QProcess::execute(QStringLiteral("cp"),
                          {QStringLiteral("-R"),
                           QStringLiteral(MORVANE_APP_BUNDLE "/share/gnome-shell/extensions/") + kUuid,
                           extensions});
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE"})
            env.remove(QString::fromLatin1(variable));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), session.address());
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), system.address());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        // Morvane's desktop entry and program, as installed: the toggle starts Morvane through them.
        env.insert(
            QStringLiteral("XDG_DATA_DIRS"),
            QStringLiteral(MORVANE_APP_BUNDLE "/share:") +
                env.value(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral("/usr/local/share:/usr/share")));
        env.insert(QStringLiteral("PATH"),
                   QStringLiteral(MORVANE_APP_BUNDLE "/bin:") + env.value(QStringLiteral("PATH")));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(QStringLiteral("gnome-shell"),
                        {QStringLiteral("--headless"), QStringLiteral("--unsafe-mode"),
                         QStringLiteral("--virtual-monitor"), QStringLiteral("1280x800"),
                         QStringLiteral("--wayland"), QStringLiteral("--no-x11")});
        m_ok = m_process.waitForStarted(5000) &&
               waitUntil(
                   [&] { return eval(QStringLiteral("Main.layoutManager._startingUp === false")) == "true"; },
                   30000);
    }
    ~HeadlessGnomeShell() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(2000);
        QDBusConnection::disconnectFromBus(m_bus.name());
    }
    bool ok() const { return m_ok; }
    QString runtimeDir() const { return m_dir.filePath(QStringLiteral("runtime")); }
    QString dataDir() const { return m_dir.filePath(QStringLiteral("data")); }

    // Evaluates `code` in the shell (GNOME 43's scripts and 45's modules both see `Main` there):
    // its value as JSON, or "error: …".
    QString eval(const QString& code) const {
        const QDBusMessage reply = call(QStringLiteral("/org/gnome/Shell"), QStringLiteral("org.gnome.Shell"),
                                        QStringLiteral("Eval"), {code});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
            return QStringLiteral("error: ") + reply.errorMessage();
        const QString value = reply.arguments().at(1).toString();
        return reply.arguments().at(0).toBool() ? value : QStringLiteral("error: ") + value;
    }
    // What GetExtensionInfo says of the extension.
    QVariantMap extensionInfo() const {
        const QDBusMessage reply =
            call(QStringLiteral("/org/gnome/Shell"), QStringLiteral("org.gnome.Shell.Extensions"),
                 QStringLiteral("GetExtensionInfo"), {kUuid});
        return reply.arguments().isEmpty() ? QVariantMap() : qdbus_cast<QVariantMap>(reply.arguments().at(0));
    }
    bool setExtension(bool on) const {
        return call(QStringLiteral("/org/gnome/Shell"), QStringLiteral("org.gnome.Shell.Extensions"),
                    on ? QStringLiteral("EnableExtension") : QStringLiteral("DisableExtension"), {kUuid})
                   .type() == QDBusMessage::ReplyMessage;
    }
    bool screenshot(const QString& file) const {
        const QDBusMessage reply =
            call(QStringLiteral("/org/gnome/Shell/Screenshot"), QStringLiteral("org.gnome.Shell.Screenshot"),
                 QStringLiteral("Screenshot"), {false, false, file});
        return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
    }

private:
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& args) const {
        QDBusMessage m =
            QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"), path, interface, method);
        m.setArguments(args);
        return m_bus.call(m, QDBus::Block, 10000);
    }

    QTemporaryDir m_dir;
    QDBusConnection m_bus;
    QProcess m_process;
    bool m_ok = false;
};

// The extension's toggle in the Quick Settings grid, and its indicator, as shell expressions.
const QString kToggle = QStringLiteral(
    "Main.panel.statusArea.quickSettings.menu._grid.get_children().find(c => c.constructor.name === "
    "'MorvaneToggle')");
const QString kIndicator = QStringLiteral("Main.panel.statusArea.morvane");

// Under the sanitizers on a loaded machine, a window or a signal through both buses can take many
// seconds: every wait is long, and ends as soon as its condition holds.
bool settles(const std::function<bool()>& condition) {
    return waitUntil(condition, 30000);
}

} // namespace

TEST(GnomeShell, TheExtensionIsMorvaneInTheTopBarAndInQuickSettings) {
    PrivateBus session;
    PrivateBus system;
    ASSERT_TRUE(session.ok() && system.ok());
    DBusMock logind(system, {QStringLiteral("--template"), QStringLiteral("logind")},
                    QStringLiteral("org.freedesktop.login1"), true);
    ASSERT_TRUE(logind.ok());
    HeadlessGnomeShell shell(session, system);
    ASSERT_TRUE(shell.ok()) << "gnome-shell --headless did not come up";
    const auto js = [&](const QString& code) { return shell.eval(code); };

    // The real program, natively on the shell's display.
    RealProgram program(
        kMorvane,
        R"({"autoCheckUpdates":false,"countdownInMenuBar":true,"interval":60,"mode":"zen","preventDisplaySleep":false})",
        {{QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), session.address()},
         {QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), system.address()},
         {QStringLiteral("XDG_DATA_HOME"), shell.dataDir()},
         {QStringLiteral("XDG_RUNTIME_DIR"), shell.runtimeDir()},
         {QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0")},
         {QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME")}});
    const auto morvane = [&](const QStringList& arguments, QString* out = nullptr) {
        return program.run(arguments, out);
    };
    QDBusConnection bus = session.connect(QStringLiteral("gnome-shell-test-client"));
    const auto property = [&](const QString& name) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QStringLiteral("app.morvane.Morvane"), QStringLiteral("/app/morvane/Morvane"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        m << QStringLiteral("app.morvane.Morvane") << name;
        const QDBusReply<QVariant> reply = bus.call(m);
        return reply.isValid() ? reply.value() : QVariant();
    };

    // 1. Installed but off, with no tray on the session: Morvane says how to turn it on, once.
    // Known to GNOME and off ("initialized" until it was first turned on, then "inactive").
    const int state = shell.extensionInfo().value(QStringLiteral("state")).toInt();
    EXPECT_TRUE(state == 6 || state == 2) << state;
    program.start();
    ASSERT_TRUE(settles([&] { return morvane({QStringLiteral("--status")}) == 0; }));
    const QString notifications = QStringLiteral(
        "JSON.stringify(Main.messageTray.getSources().flatMap(s => s.notifications.map(n => n.title + ': ' + "
        "(n.bannerBodyText ?? n.body))))");
    EXPECT_TRUE(settles([&] { return js(notifications).contains(QStringLiteral("Extensiones → Morvane")); }))
        << js(notifications).toStdString();

    // 2. Turned on from the notification's "Activar", it loads without error, shows the indicator and
    // takes the panel's name.
    js(QStringLiteral(
        "Main.messageTray.getSources().flatMap(s => s.notifications).flatMap(n => n.actions)"
        ".filter(a => a.label === 'Activar').forEach(a => a.activate ? a.activate() : a.callback())"));
    EXPECT_TRUE(settles([&] { return shell.extensionInfo().value(QStringLiteral("state")).toInt() == 1; }));
    EXPECT_EQ(shell.extensionInfo().value(QStringLiteral("error")).toString(), QString());
    EXPECT_TRUE(settles([&] { return js(kIndicator + QStringLiteral("?.visible")) == "true"; }))
        << js(kIndicator + QStringLiteral("?.visible")).toStdString();
    EXPECT_TRUE(settles([&] {
        return bus.interface()->isServiceRegistered(QStringLiteral("app.morvane.Morvane.Panel")).value();
    }));

    // A tray host appears: Morvane stays out of it while the extension runs.
    DBusMock watcher(session, {QStringLiteral("--template"), QStringLiteral(MORVANE_SNI_WATCHER)},
                     QStringLiteral("org.kde.StatusNotifierWatcher"));
    ASSERT_TRUE(watcher.ok());
    const auto registrations = [&] {
        int n = 0;
        for (const auto& [method, args] : watcher.calls(QStringLiteral("/StatusNotifierWatcher")))
            n += method == QStringLiteral("RegisterStatusNotifierItem");
        return n;
    };

    // 3. The label follows a countdown.
    ASSERT_EQ(morvane({QStringLiteral("--for"), QStringLiteral("10m")}), 0);
    const QString label = kIndicator + QStringLiteral("._label.text");
    QString first;
    EXPECT_TRUE(settles([&] {
        first = js(label);
        return first.startsWith(QStringLiteral("\"9:")) || first == QStringLiteral("\"10:00\"");
    })) << first.toStdString();
    EXPECT_TRUE(settles([&] { return js(label) != first && js(label).startsWith(QStringLiteral("\"9:")); }))
        << js(label).toStdString() << " after " << first.toStdString()
        << "; Morvane's label: " << property(QStringLiteral("label")).toString().toStdString()
        << ", the extension's: " << js(kIndicator + QStringLiteral("._control.label")).toStdString();
    EXPECT_EQ(js(kIndicator + QStringLiteral("._icon.gicon.get_file().get_basename()")),
              QStringLiteral("\"morvane-on-symbolic.svg\""));

    // 4. The Quick Settings toggle switches Morvane; its menu's chips and "Preferencias…" reach it.
    // The indicator menu's switch follows Morvane without switching it, and switches it when flipped.
    EXPECT_EQ(js(kIndicator + QStringLiteral("._switch.state")), QStringLiteral("true"));
    js(kIndicator + QStringLiteral("._switch.toggle()"));
    EXPECT_TRUE(settles([&] { return property(QStringLiteral("enabled")) == QVariant(false); }));
    ASSERT_EQ(morvane({QStringLiteral("--for"), QStringLiteral("10m")}), 0);
    EXPECT_TRUE(settles([&] { return js(kToggle + QStringLiteral(".checked")) == "true"; }));
    EXPECT_GT(property(QStringLiteral("stopAt")).toLongLong(), 0) << "the switch followed without switching";
    ASSERT_EQ(js(kToggle + QStringLiteral(".checked")), QStringLiteral("true"));
    js(kToggle + QStringLiteral(".emit('clicked', 1)"));
    EXPECT_TRUE(settles([&] { return property(QStringLiteral("enabled")) == QVariant(false); }));
    EXPECT_TRUE(settles([&] { return js(kToggle + QStringLiteral(".checked")) == "false"; }));
    EXPECT_TRUE(settles([&] { return js(kIndicator + QStringLiteral("._label.visible")) == "false"; }));
    // The first actor under `root` that `test` accepts (`a` is the actor).
    const auto find = [](const QString& root, const QString& test) {
        return QStringLiteral("(function find(a) { if (%1) return a; for (const c of a.get_children()) "
                              "{ const f = find(c); if (f) return f; } return null; })(%2)")
            .arg(test, root);
    };
    const QString menu = kToggle + QStringLiteral(".menu.box");
    js(find(menu, QStringLiteral("a.label === '1 h'")) + QStringLiteral(".emit('clicked', 1)"));
    const qint64 asked = QDateTime::currentMSecsSinceEpoch();
    EXPECT_TRUE(settles([&] { return property(QStringLiteral("enabled")) == QVariant(true); }));
    const qint64 stopAt = property(QStringLiteral("stopAt")).toLongLong();
    EXPECT_GT(stopAt, asked + 3500 * 1000);
    EXPECT_LT(stopAt, asked + 3700 * 1000);
    js(find(menu, QStringLiteral("a.label?.text === 'Preferencias…'")) + QStringLiteral(".activate(null)"));
    EXPECT_TRUE(settles([&] {
        return js(QStringLiteral("global.get_window_actors().map(a => a.meta_window.get_title()).join()"))
            .contains(QStringLiteral("Preferencias de Morvane"));
    })) << js(QStringLiteral("global.get_window_actors().map(a => a.meta_window.get_title()).join()"))
               .toStdString();

    // Pictures of the top bar and the open menu, in the dark and light styles.
    const QString pictures = qEnvironmentVariable("MORVANE_SCREENSHOT_DIR");
    if (!pictures.isEmpty() && QDir().mkpath(pictures)) {
        ASSERT_EQ(morvane({QStringLiteral("--for"), QStringLiteral("65m")}), 0);
        js(QStringLiteral("Main.panel.statusArea.quickSettings.menu.open()"));
        waitUntil([] { return false; }, 1000);
        js(kToggle + QStringLiteral(".menu.open()"));
        for (const char* scheme : {"prefer-dark", "prefer-light"}) {
            js(QStringLiteral("new Gio.Settings({schema_id: 'org.gnome.desktop.interface'})"
                              ".set_string('color-scheme', '%1')")
                   .arg(QLatin1String(scheme)));
            waitUntil([] { return false; }, 1500);
            EXPECT_TRUE(shell.screenshot(
                QStringLiteral("%1/quick-settings-%2.png").arg(pictures, QLatin1String(scheme))));
        }
        js(QStringLiteral("Main.panel.statusArea.quickSettings.menu.close(); ") + kIndicator +
           QStringLiteral(".menu.open()"));
        waitUntil([] { return false; }, 1000);
        EXPECT_TRUE(shell.screenshot(pictures + QStringLiteral("/indicator-menu.png")));
        js(kIndicator + QStringLiteral(".menu.close()"));
    }

    // 5. No tray item while the extension runs (the diagnosis names the extension); one as soon as it
    // is turned off.
    EXPECT_EQ(registrations(), 0);
    QString report;
    morvane({QStringLiteral("--diagnose")}, &report);
    EXPECT_TRUE(
        report.contains(QStringLiteral("Bandeja: la extensión de Morvane en la barra superior de GNOME")))
        << report.toStdString();
    ASSERT_TRUE(shell.setExtension(false));
    EXPECT_TRUE(settles([&] { return registrations() == 1; }));
    ASSERT_TRUE(shell.setExtension(true));
    EXPECT_TRUE(settles([&] { return js(kIndicator + QStringLiteral("?.visible")) == "true"; }));

    // 6. Quitting Morvane hides the indicator; the toggle starts it again.
    ASSERT_EQ(morvane({QStringLiteral("--quit")}), 0);
    EXPECT_TRUE(program.app().waitForFinished(10000));
    EXPECT_TRUE(settles([&] { return js(kIndicator + QStringLiteral("?.visible")) == "false"; }));
    js(kToggle + QStringLiteral(".emit('clicked', 1)"));
    EXPECT_TRUE(settles([&] { return property(QStringLiteral("enabled")) == QVariant(true); }));
    EXPECT_TRUE(settles([&] { return js(kIndicator + QStringLiteral("?.visible")) == "true"; }));
    EXPECT_EQ(morvane({QStringLiteral("--quit")}), 0);
    QDBusConnection::disconnectFromBus(bus.name());
}
