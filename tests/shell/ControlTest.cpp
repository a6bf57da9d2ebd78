// Driving Morvane from the command line and over D-Bus, on a private bus. The client is always the
// real `morvane` executable, run without a display; the instance is either the control interface
// in this process over the real engine on fake ports, or the real program under Xvfb.
#include "AppService.h"
#include "Cli.h"
#include "ControlAdaptor.h"
#include "ControlContract.h"
#include "TestServers.h"
#include "UiRig.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

namespace morvane {
namespace {

const QString kApp = QStringLiteral(MORVANE_APP_BUNDLE "/bin/morvane");

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

Instant at(int hour, int minute = 0) {
    return QDateTime(QDate(2026, 12, 2), QTime(hour, minute), instant::kUtc);
}

// The instance's interface as a script sees it, from a connection of its own.
class ControlTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.ok());
        ASSERT_TRUE(home.isValid());
        client = bus.connect(QStringLiteral("control-client"));
    }
    void TearDown() override { QDBusConnection::disconnectFromBus(client.name()); }

    // Runs `morvane arguments` against the private bus, with no display, while this process keeps
    // answering on the bus.
    Outcome morvane(const QStringList& arguments, const QString& busAddress = QString()) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   busAddress.isEmpty() ? bus.address() : busAddress);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.setProcessEnvironment(env);
        p.start(kApp, arguments);
        Outcome outcome;
        if (!p.waitForStarted(5000) ||
            !test::waitUntil([&] { return p.state() == QProcess::NotRunning; }, 15000)) {
            p.kill();
            p.waitForFinished(3000);
            ADD_FAILURE() << "morvane " << arguments.join(' ').toStdString() << " did not finish";
            return outcome;
        }
        outcome.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        outcome.out = QString::fromUtf8(p.readAllStandardOutput());
        outcome.err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_NE(outcome.code, -1) << "morvane " << arguments.join(' ').toStdString() << " crashed, signal "
                                    << p.exitCode() << ": " << outcome.err.toStdString();
        return outcome;
    }

    // A method call or property read on the instance, answered while this process keeps running.
    QDBusMessage call(const QString& interface, const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(contract::kName, contract::kPath, interface, method);
        m.setArguments(arguments);
        QDBusPendingCall pending = client.asyncCall(m, 5000);
        EXPECT_TRUE(test::waitUntil([&] { return pending.isFinished(); }));
        return pending.reply();
    }
    QDBusMessage control(const QString& method, const QVariantList& arguments = {}) {
        return call(contract::kInterface, method, arguments);
    }
    QVariant property(const QString& name) {
        const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {contract::kInterface, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    test::PrivateBus bus;
    QTemporaryDir home;
    QDBusConnection client{QString()};
};

// Records the instance's PropertiesChanged signals.
class PropertiesLog : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> changes;
public Q_SLOTS:
    void changed(const QString& interface, const QVariantMap& properties, const QStringList&) {
        if (interface == contract::kInterface)
            changes << properties;
    }
};

// The interface in this process, over the real engine on fake ports (Wednesday 12:00 UTC).
class ControlTest : public ControlTestBase {
protected:
    void SetUp() override {
        ControlTestBase::SetUp();
        serviceBus = bus.connect(QStringLiteral("control-service"));
        service = std::make_unique<AppService>(serviceBus);
        adaptor = new ControlAdaptor(*service, serviceBus, *rig.engine, *rig.store, rig.clock);
        // Quitting gives the name up, which --quit waits for.
        rig.actions.quit = [this] {
            rig.calls << QStringLiteral("quit");
            serviceBus.unregisterService(contract::kName);
        };
        // The shell's diagnosis, replaced by a text the test chooses.
        rig.actions.diagnose = [this](std::function<void(const QString&, bool)> done) {
            done(diagnosis, !diagnosis.contains(cli::kProblemMark));
        };
        adaptor->setActions(rig.actions);
        ASSERT_TRUE(service->claim());
        rig.start();
    }
    void TearDown() override {
        service.reset();
        QDBusConnection::disconnectFromBus(serviceBus.name());
        ControlTestBase::TearDown();
    }

    test::UiRig rig;
    QString diagnosis;
    QDBusConnection serviceBus{QString()};
    std::unique_ptr<AppService> service;
    ControlAdaptor* adaptor = nullptr;
};

struct CommandCase {
    QStringList arguments;
    std::function<void(test::UiRig&)> expect;
};

TEST_F(ControlTest, EachCommandGoesThroughTheEngineAndTheShell) {
    const CommandCase steps[] = {
        {{"--on"}, [](test::UiRig& r) { EXPECT_TRUE(r.engine->enabled()); }},
        {{"--on"}, [](test::UiRig& r) { EXPECT_TRUE(r.engine->enabled()); }}, // not a toggle
        {{"--off"}, [](test::UiRig& r) { EXPECT_FALSE(r.engine->enabled()); }},
        {{"--off"}, [](test::UiRig& r) { EXPECT_FALSE(r.engine->enabled()); }},
        {{"--toggle"}, [](test::UiRig& r) { EXPECT_TRUE(r.engine->enabled()); }},
        {{"--toggle"}, [](test::UiRig& r) { EXPECT_FALSE(r.engine->enabled()); }},
        {{"--for", "30m"},
         [](test::UiRig& r) {
             EXPECT_TRUE(r.engine->enabled());
             EXPECT_EQ(r.engine->stopAt(), OptInstant(at(12, 30)));
         }},
        {{"--until", "18:00"}, [](test::UiRig& r) { EXPECT_EQ(r.engine->stopAt(), OptInstant(at(18))); }},
        // A time already past today means tomorrow, as in the popover.
        {{"--until=8:05"},
         [](test::UiRig& r) { EXPECT_EQ(r.engine->stopAt(), OptInstant(at(8, 5).addDays(1))); }},
        {{"--pause", "1h30m"},
         [](test::UiRig& r) {
             EXPECT_FALSE(r.engine->enabled());
             EXPECT_EQ(r.engine->pausedUntil(), OptInstant(at(13, 30)));
         }},
        {{"--cancel"},
         [](test::UiRig& r) {
             EXPECT_FALSE(r.engine->hasTimers());
             EXPECT_EQ(r.engine->status(), QStringLiteral("Apagado"));
         }},
        {{"--preferences", "horarios"},
         [](test::UiRig& r) {
             EXPECT_TRUE(test::waitUntil([&] { return r.calls.contains(QStringLiteral("showSettings:3")); }));
             EXPECT_EQ(r.calls, (QStringList{"closePopover", "showSettings:3"}));
         }},
        {{"--preferences"},
         [](test::UiRig& r) {
             EXPECT_TRUE(test::waitUntil([&] { return r.calls.size() == 4; }));
             EXPECT_EQ(r.calls.last(), QStringLiteral("showSettings:0"));
         }},
        {{"--quit"},
         [](test::UiRig& r) {
             EXPECT_TRUE(test::waitUntil([&] { return r.calls.contains(QStringLiteral("quit")); }));
         }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.arguments.join(' ').toStdString());
        const Outcome o = morvane(step.arguments);
        EXPECT_EQ(o.code, cli::kExitOk) << o.err.toStdString();
        EXPECT_EQ(o.err, QString());
        step.expect(rig);
    }
}

TEST_F(ControlTest, StatusPrintsThePopoversLines) {
    const QString unchecked = QStringLiteral("Todavía no se comprobó ningún movimiento\n");
    EXPECT_EQ(morvane({"--status"}).out, QStringLiteral("Apagado\n") + unchecked);
    rig.engine->activate(at(12, 30));
    rig.engine->schedule(at(14), at(15));
    EXPECT_EQ(morvane({"--status"}).out,
              QStringLiteral("Activo\nSe apaga en 30:00 (12:30)\nSe enciende a las 14:00 hasta las 15:00\n") +
                  unchecked);

    // Inside the default weekday schedule (Wednesday 12:00), paused.
    rig.prefs([](Prefs& p) { p.schedulesEnabled = true; });
    rig.engine->cancelTimers();
    rig.tick();
    rig.engine->pause(300);
    const Outcome o = morvane({"--status"});
    EXPECT_EQ(o.code, cli::kExitOk);
    EXPECT_EQ(o.out, QStringLiteral("En pausa\nEn pausa, vuelve en 5:00\nHorario laboral hasta las 18:00\n") +
                         unchecked);
}

TEST_F(ControlTest, BadInputIsRefusedAndChangesNothing) {
    const QStringList refused[] = {
        {"--for", "0"}, {"--for", "soon"}, {"--pause", "-5m"},        {"--until", "24:00"},
        {"--until"},    {"--bogus"},       {"--preferences", "todo"}, {"--on", "--off"},
    };
    for (const QStringList& arguments : refused) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Outcome o = morvane(arguments);
        EXPECT_EQ(o.code, cli::kExitUsage);
        EXPECT_TRUE(o.err.startsWith(QStringLiteral("morvane: "))) << o.err.toStdString();
        EXPECT_EQ(o.out, QString());
    }
    EXPECT_TRUE(morvane({"--bogus"}).err.contains(QStringLiteral("Uso: morvane")));

    // The interface itself refuses what the client would never send.
    const std::pair<QString, QVariantList> calls[] = {
        {"ActivateFor", {qlonglong(0)}}, {"ActivateFor", {qlonglong(-60)}},
        {"Pause", {qlonglong(0)}},       {"ActivateUntil", {QString("7")}},
        {"ActivateUntil", {QString()}},  {"OpenSettings", {QString("x")}},
    };
    for (const auto& [method, arguments] : calls) {
        const QDBusMessage reply = control(method, arguments);
        EXPECT_EQ(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"))
            << method.toStdString();
    }
    test::waitUntil([] { return false; }, 50); // a refused OpenSettings must not act later either
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->hasTimers());
    EXPECT_TRUE(rig.calls.isEmpty());
}

TEST_F(ControlTest, PropertiesAndTheirChangeSignals) {
    PropertiesLog log;
    ASSERT_TRUE(client.connect(
        contract::kName, contract::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), &log, SLOT(changed(QString, QVariantMap, QStringList))));

    // Without the panel's countdown first: the status line's own countdown is never announced.
    rig.prefs([](Prefs& p) { p.countdownInMenuBar = false; });
    rig.engine->activate(at(12, 30));
    ASSERT_TRUE(test::waitUntil([&] { return log.changes.size() == 1; }));
    EXPECT_EQ(log.changes[0], (QVariantMap{{"enabled", true},
                                           {"status", QStringLiteral("Activo")},
                                           {"stopAt", at(12, 30).toMSecsSinceEpoch()},
                                           {"icon", QStringLiteral("on")}}));
    EXPECT_EQ(property("stopAt").toLongLong(), at(12, 30).toMSecsSinceEpoch());
    EXPECT_EQ(property("pausedUntil").toLongLong(), 0);

    // The countdown is announced when it appears, then only computed when read.
    rig.tick();
    ASSERT_TRUE(test::waitUntil([&] { return log.changes.size() == 2; }));
    EXPECT_EQ(log.changes[1],
              (QVariantMap{{"status", QStringLiteral("Esperando inactividad · 1 min 59 s")}}));
    rig.ticks(2);
    EXPECT_EQ(property("status").toString(), QStringLiteral("Esperando inactividad · 1 min 57 s"));

    // A locked screen blocks movement: the reason and the icon are published, nothing else changes.
    rig.screenLock.locked = true;
    rig.tick();
    ASSERT_TRUE(test::waitUntil([&] { return log.changes.size() == 3; }));
    EXPECT_EQ(log.changes[2], (QVariantMap{{"status", QStringLiteral("Pausado: pantalla bloqueada")},
                                           {"blockingReason", QStringLiteral("Pausado: pantalla bloqueada")},
                                           {"icon", QStringLiteral("blocked")}}));
    EXPECT_EQ(property("blockingReason").toString(), QStringLiteral("Pausado: pantalla bloqueada"));

    // Ticks that change only the engine's clock announce nothing: the next signal is the pause.
    rig.ticks(3);
    rig.engine->pause(600);
    ASSERT_TRUE(test::waitUntil([&] { return log.changes.size() >= 4; }));
    test::waitUntil([] { return false; }, 100);
    ASSERT_EQ(log.changes.size(), 4);
    EXPECT_EQ(log.changes[3].value("enabled"), QVariant(false));
    EXPECT_EQ(log.changes[3].value("blockingReason"), QVariant(QString()));
    EXPECT_EQ(log.changes[3].value("icon"), QVariant(QStringLiteral("off")));
    EXPECT_EQ(log.changes[3].value("pausedUntil").toLongLong(), rig.clock.t.addSecs(600).toMSecsSinceEpoch());
    EXPECT_EQ(property("enabled"), QVariant(false));

    // The panel's countdown is announced each second while the GNOME Shell extension shows it,
    // computed when read otherwise, and goes with its setting.
    rig.screenLock.locked = false;
    rig.prefs([](Prefs& p) { p.countdownInMenuBar = true; });
    rig.engine->activate(rig.clock.t.addSecs(65 * 60));
    ASSERT_TRUE(test::waitUntil([&] { return property("label") == QVariant(QStringLiteral("1:05:00")); }));
    const qsizetype before = log.changes.size();
    rig.clock.advance(1);
    test::waitUntil([] { return false; }, 1500);
    EXPECT_EQ(log.changes.size(), before) << "announced with nobody showing it";
    EXPECT_EQ(property("label"), QVariant(QStringLiteral("1:04:59")));
    adaptor->setPanelShown(true);
    const auto announced = [&](const char* label) {
        return test::waitUntil([&] {
            return !log.changes.isEmpty() &&
                   log.changes.last().value("label") == QVariant(QString::fromUtf8(label));
        });
    };
    EXPECT_TRUE(announced("1:04:59"));
    rig.clock.advance(1);
    EXPECT_TRUE(announced("1:04:58"));
    rig.prefs([](Prefs& p) { p.countdownInMenuBar = false; });
    EXPECT_TRUE(test::waitUntil([&] { return property("label") == QVariant(QString()); }));
}

TEST_F(ControlTest, VerdictReachesScriptsAndTheDiagnosisSetsTheExitCode) {
    PropertiesLog log;
    ASSERT_TRUE(client.connect(
        contract::kName, contract::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), &log, SLOT(changed(QString, QVariantMap, QStringList))));
    EXPECT_EQ(property("verified").toString(), QStringLiteral("unknown"));
    rig.moveEveryTwoSeconds();
    rig.engine->setEnabled(true);
    ASSERT_TRUE(rig.tickUntil(Verdict::verified));
    const qint64 movedAt = rig.jiggler.movements.at(0).at.toMSecsSinceEpoch();
    ASSERT_TRUE(
        test::waitUntil([&] { return !log.changes.isEmpty() && log.changes.last().contains("verified"); }));
    EXPECT_EQ(log.changes.last().value("verified"), QVariant(QStringLiteral("verified")));
    EXPECT_EQ(log.changes.last().value("lastVerified").toLongLong(), movedAt);
    EXPECT_EQ(property("lastVerified").toLongLong(), movedAt);
    EXPECT_TRUE(morvane({"--status"}).out.endsWith("\nLa sesión registró el último movimiento (hace 1 s)\n"));

    // The instance's report as it stands; a failed check makes the exit code 4.
    for (const auto& [text, code] : {std::pair{"Morvane\n✓ Movimientos\n", cli::kExitOk},
                                     std::pair{"Morvane\n✓ Movimientos\n✗ Permiso\n", cli::kExitProblems}}) {
        diagnosis = QString::fromUtf8(text);
        const Outcome o = morvane({"--diagnose"});
        EXPECT_EQ(o.code, code) << o.err.toStdString();
        EXPECT_EQ(o.out, diagnosis);
    }
}

// No instance on the bus, or no bus at all: one line, exit 3.
TEST_F(ControlTestBase, WithoutARunningInstanceItSaysSo) {
    for (const QStringList& arguments :
         {QStringList{"--on"}, QStringList{"--status"}, QStringList{"--quit"}}) {
        const Outcome o = morvane(arguments);
        EXPECT_EQ(o.code, cli::kExitNotRunning) << arguments.join(' ').toStdString();
        EXPECT_EQ(o.err, QStringLiteral("morvane: Morvane no está en marcha\n"));
    }
    const Outcome noBus = morvane({"--toggle"}, QStringLiteral("unix:path=") + home.filePath("no-bus"));
    EXPECT_EQ(noBus.code, cli::kExitNotRunning);
    EXPECT_EQ(noBus.err.count('\n'), 1) << noBus.err.toStdString();

    // The diagnosis then probes the session itself: without a display there is no idle source.
    const Outcome probe = morvane({"--diagnose"});
    EXPECT_EQ(probe.code, cli::kExitProblems) << probe.err.toStdString();
    EXPECT_TRUE(probe.out.startsWith(QStringLiteral("Morvane "))) << probe.out.toStdString();
    EXPECT_TRUE(probe.out.contains(QStringLiteral("no está en marcha")));
    EXPECT_TRUE(
        probe.out.contains(QStringLiteral("✗ Inactividad de la sesión: no se puede leer (NullIdleTime)")));
    EXPECT_TRUE(probe.out.contains(QStringLiteral(
        "Cambios de actividad: la sesión no los avisa (NullIdleTime); activado, Morvane lee la "
        "inactividad cada segundo")))
        << "the polling is stated";

    const Outcome help = morvane({"--help"});
    EXPECT_EQ(help.code, cli::kExitOk);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Uso: morvane"))) << help.out.toStdString();
    const Outcome version = morvane({"--version"});
    EXPECT_EQ(version.out, QStringLiteral("Morvane " MORVANE_BUNDLE_VERSION "\n"));
}

// The real program under Xvfb, driven by its own executable.
TEST_F(ControlTestBase, TheRealProgramObeysItsCommandLine) {
    QDir().mkpath(home.filePath(QStringLiteral("morvane")));
    QFile conf(home.filePath(QStringLiteral("morvane/morvane.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    // Zen every two seconds, whatever the X server's idle time: the session soon registers one.
    conf.write("[General]\nonboarded=true\nprefs.v1=\"{\\\"autoCheckUpdates\\\":false,\\\"interval\\\":2,"
               "\\\"mode\\\":\\\"zen\\\",\\\"policy\\\":\\\"always\\\"}\"\n");
    conf.close();

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(kApp, {});
    ASSERT_TRUE(app.waitForStarted(5000));
    const auto stop = qScopeGuard([&] {
        app.terminate();
        if (!app.waitForFinished(3000))
            app.kill();
        app.waitForFinished(3000);
    });
    ASSERT_TRUE(test::waitUntil(
        [&] { return client.interface()->isServiceRegistered(contract::kName).value(); }, 20000));

    EXPECT_EQ(morvane({"--for", "30m"}).code, cli::kExitOk);
    Outcome status = morvane({"--status"});
    EXPECT_EQ(status.code, cli::kExitOk);
    const QStringList lines = status.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << status.out.toStdString();
    // The engine's own line: it depends on the X server's idle time by now.
    EXPECT_NE(lines[0], QStringLiteral("Apagado"));
    // After 23:30 the stop falls on the next day, which the time then names ("mié 00:02").
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^Se apaga en (30:00|29:[0-5][0-9]) \\((\\S+ )?[0-9]{2}:[0-9]{2}\\)$"))
                    .match(lines[1])
                    .hasMatch())
        << lines[1].toStdString();

    // The X server counts the movements: the verdict, then the report naming adapters and verdict.
    EXPECT_TRUE(test::waitUntil(
        [&] {
            return morvane({"--status"})
                .out.contains(QStringLiteral("La sesión registró el último movimiento"));
        },
        15000));
    const Outcome report = morvane({"--diagnose"});
    EXPECT_EQ(report.code, cli::kExitOk) << report.out.toStdString();
    for (const char* expected :
         {"en marcha, activado", "X11IdleTime", "X11Jiggler", "Movimientos (verified)"})
        EXPECT_TRUE(report.out.contains(QLatin1String(expected))) << expected << "\n"
                                                                  << report.out.toStdString();

    EXPECT_EQ(morvane({"--off"}).code, cli::kExitOk);
    status = morvane({"--status"});
    EXPECT_TRUE(status.out.startsWith(QStringLiteral("Apagado\nLa sesión registró el último movimiento")))
        << status.out.toStdString();

    const Outcome quit = morvane({"--quit"});
    EXPECT_EQ(quit.code, cli::kExitOk) << quit.err.toStdString();
    // --quit returns once the name is free.
    EXPECT_FALSE(client.interface()->isServiceRegistered(contract::kName).value());
    ASSERT_TRUE(test::waitUntil([&] { return app.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
}

} // namespace
} // namespace morvane

#include "ControlTest.moc"
