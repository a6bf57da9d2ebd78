// Stands in for the application inside the test bundles until the real shell exists: it starts
// the way the application does (settings, engine with its run state, updater), reports what it
// found, and, when given a feed, runs one automatic check that may install and relaunch.
//
// Environment: MORVANE_TESTAPP_DIR (where reports and notifications go, required),
// MORVANE_TESTAPP_FEED and MORVANE_TESTAPP_CA (feed URL and the CA certificate that signs its
// server), MORVANE_TESTAPP_KILL_AT (an installation step at which the process kills itself with
// SIGKILL), XDG_CONFIG_HOME (the settings file).

#include "FakePorts.h"
#include "LoginItem.h"
#include "QSettingsDefaultsStore.h"
#include "RunState.h"
#include "UpdateWorker.h"
#include "Updater.h"
#include "WorkerProtocol.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

class FileNotifier final : public Notifier {
public:
    explicit FileNotifier(QString path)
        : m_path(std::move(path)) {}
    void setup() override {}
    void send(const QString& title, const QString& body) override {
        QFile f(m_path);
        if (f.open(QIODevice::Append))
            f.write((title + QLatin1Char('\t') + body + QLatin1Char('\n')).toUtf8());
    }

private:
    QString m_path;
};

QJsonArray numbers(const std::optional<RunState::Numbers>& n) {
    QJsonArray a;
    if (n) {
        for (const double v : *n)
            a.append(v);
    }
    return a;
}

double seconds(const OptInstant& t) {
    return t ? instant::toEpochSeconds(*t) : 0.0;
}

} // namespace

int main(int argc, char** argv) {
    // Its updater's worker, like the application's.
    if (argc == 2 && std::strcmp(argv[1], kWorkerFlag) == 0)
        return runUpdateWorker(argc, argv);
    QCoreApplication app(argc, argv);
    const QString dir = qEnvironmentVariable("MORVANE_TESTAPP_DIR");
    if (dir.isEmpty())
        return 2;

    FakeMachine machine;
    FileNotifier notifier(dir + QStringLiteral("/notifications.txt"));
    QSettingsDefaultsStore defaults;
    SettingsStore store(defaults);
    Engine engine(store, machine.ports(notifier, defaults));

    UpdaterOptions options;
    const QString feed = qEnvironmentVariable("MORVANE_TESTAPP_FEED");
    if (!feed.isEmpty()) {
        options.feedUrl = QUrl(feed);
        QFile ca(qEnvironmentVariable("MORVANE_TESTAPP_CA"));
        if (ca.open(QIODevice::ReadOnly))
            options.caCertificates = ca.readAll();
    }
    const QString killAt = qEnvironmentVariable("MORVANE_TESTAPP_KILL_AT");
    options.observe = [killAt](InstallStep step) {
        if (stepName(step) == killAt)
            ::kill(::getpid(), SIGKILL);
    };
    options.firstCheckDelayMs = 24 * 3600 * 1000; // this program checks by itself, below

    QJsonObject report;
    auto writeReport = [&](const Updater& updater) {
        report.insert(QStringLiteral("message"), updater.message());
        QSaveFile f(dir + QStringLiteral("/report-%1.json").arg(updater.currentBuild()));
        if (f.open(QIODevice::WriteOnly)) {
            f.write(QJsonDocument(report).toJson());
            f.commit();
        }
    };

    // The relauncher's own way out: the report is written on the way.
    class ReportingTermination final : public Termination {
    public:
        std::function<void()> beforeQuit;
        void requestQuit() override {
            beforeQuit();
            QCoreApplication::quit();
        }
    } termination;
    Updater updater(
        store, notifier,
        [&termination](const QString& executable) { AppRelauncher::relaunch(executable, termination); },
        options);
    termination.beforeQuit = [&] { writeReport(updater); };
    updater.start();

    const bool fresh = !defaults.value(Engine::kStateKey).isValid();
    engine.start();
    if (fresh) {
        // A run state worth restoring: on for 90 min and a bit, then paused for 10 min.
        engine.activate(instant::plusSeconds(machine.clock.now(), 5400.125));
        engine.pause(600);
        machine.ticker.callback();
    }
    report.insert(QStringLiteral("pid"), qint64(::getpid()));
    report.insert(QStringLiteral("build"), updater.currentBuild());
    report.insert(QStringLiteral("version"), updater.currentVersion());
    report.insert(QStringLiteral("stored"), numbers(RunState::parse(defaults.value(Engine::kStateKey))));
    report.insert(QStringLiteral("engine"),
                  QJsonArray{engine.enabled(), seconds(engine.stopAt()), seconds(engine.startAt()),
                             seconds(engine.plannedStopAt()), seconds(engine.pausedUntil())});

    if (feed.isEmpty()) {
        writeReport(updater);
        return 0;
    }
    QObject::connect(&updater, &Updater::changed, &app, [&] {
        // A check that ends without an installation ends the program; an installation ends it
        // through the relaunch.
        // onFeed clears busy before it may start an installation, so look once it has returned.
        QTimer::singleShot(0, &app, [&] {
            if (!updater.busy()) {
                writeReport(updater);
                QCoreApplication::quit();
            }
        });
    });
    QTimer::singleShot(0, &updater, [&] { updater.check(false); });
    return app.exec();
}
