#include "MorvaneApp.h"

#include "AppActions.h"
#include "AppService.h"
#include "ControlAdaptor.h"
#include "ControlContract.h"
#include "Diagnosis.h"
#include "DiagnosisWindow.h"
#include "Engine.h"
#include "ExtensionHint.h"
#include "LinuxPorts.h"
#include "LoginItem.h"
#include "LoginModel.h"
#include "MenuView.h"
#include "PermissionHelp.h"
#include "Popover.h"
#include "QtPorts.h"
#include "SettingsStore.h"
#include "SettingsView.h"
#include "SettingsWindow.h"
#include "Snapshot.h"
#include "StatusController.h"
#include "Theme.h"
#include "Updater.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>
#include <QSessionManager>
#include <QTimer>
#include <QTranslator>

#include <malloc.h>

namespace morvane {

namespace {

const QString kOnboardedKey = QStringLiteral("onboarded");
// Long enough for the closed window's widgets to be deleted (Qt deletes them from the event loop).
constexpr int kTrimDelayMs = 1000;

// Everything the running application holds, created once and kept until the process ends.
struct Shell {
    explicit Shell(LinuxPorts& ports)
        : ports(ports)
        , popover(new Popover) {}

    LinuxPorts& ports;
    Popover* popover;
    std::unique_ptr<SettingsWindow> settings;
    std::unique_ptr<StatusController> status;
    std::unique_ptr<AppService> service;
    std::unique_ptr<DiagnosisWindow> diagnosis;
    std::unique_ptr<ExtensionHint> extensionHint;
};

QString bundleExecutable(const Updater& updater) {
    return updater.bundlePath().isEmpty() ? QCoreApplication::applicationFilePath()
                                          : updater.bundlePath() + QStringLiteral("/bin/morvane");
}

} // namespace

bool loadQtTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    // Tries qtbase_es_AR, then qtbase_es: Debian ships the latter.
    if (translator->load(QLocale(QStringLiteral("es_AR")), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

int runApplication(const QStringList& arguments) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    Q_ASSERT(app);
    app->setQuitOnLastWindowClosed(false);
    // The session manager must never restart or restore Morvane: the autostart entry is the one
    // way back at login.
    QObject::connect(app, &QGuiApplication::saveStateRequest, app,
                     [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); });
    QObject::connect(app, &QGuiApplication::commitDataRequest, app,
                     [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); });

    // A second start only shows the running one's popover: ask before building adapters, engine or
    // desktop sessions of our own (the claim below still settles two starts racing each other).
    if (!Snapshot::requested(arguments)) {
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        if (bus && bus->isServiceRegistered(contract::kName).value() &&
            AppService::openPopoverOfRunning(QDBusConnection::sessionBus()))
            return 0;
    }

    theme::applyAppearance(*app, theme::desktopPrefersDark());
    loadQtTranslations(*app);

    SettingsStore& store = SettingsStore::shared();
    DefaultsStore& defaults = SettingsStore::sharedDefaults();
    static LinuxPorts ports(store, defaults);
    static SystemClock clock;
    Engine::setSharedFactory([&] { return std::make_unique<Engine>(store, ports.ports()); });
    Updater::setSharedFactory([&] {
        return std::make_unique<Updater>(store, ports.ports().notifier, [](const QString& executable) {
            AppRelauncher::relaunch(executable);
        });
    });
    Engine& engine = Engine::shared();
    Updater& updater = Updater::shared();

    // 1. Pictures of the interface, then quit: no engine, no updater, no tray item.
    if (Snapshot::runIfRequested(arguments, store, engine, updater, LoginModel::shared(), clock))
        return 0;

    // One Morvane per session: a second start shows the first one's popover.
    static Shell shell(ports);
    shell.service = std::make_unique<AppService>(QDBusConnection::sessionBus());
    auto* control = new ControlAdaptor(*shell.service, QDBusConnection::sessionBus(), engine, store, clock);
    if (QDBusConnection::sessionBus().isConnected() && !shell.service->claim()) {
        if (AppService::openPopoverOfRunning(QDBusConnection::sessionBus()))
            return 0;
        qWarning("morvane: another Morvane holds %s but does not answer; starting anyway",
                 qPrintable(contract::kName));
    }

    AppActions actions;
    actions.closePopover = [] { shell.popover->close(); };
    actions.showSettings = [](SettingsTab tab) { shell.settings->show(tab); };
    actions.quit = [] { QCoreApplication::quit(); };
    actions.requestPermission = [&updater] {
        // Where the desktop asks the user itself (a remote-control consent dialog), that is the
        // way; elsewhere the help page explains what to change.
        if (ports.requestInputPermission())
            return;
        PermissionHelp::open(ports.ports().trust, updater.bundlePath());
    };
    actions.resetPermission = actions.requestPermission;
    actions.relaunch = [&updater] { AppRelauncher::relaunch(bundleExecutable(updater)); };
    actions.diagnose = [&](std::function<void(const QString&, bool)> done) {
        gatherDiagnosis(
            {ports, store, clock, QDBusConnection::sessionBus(), &engine, shell.status.get(), &updater},
            [done](const DiagnosisReport& report) { done(report.text(), report.ok()); });
    };
    actions.showDiagnosis = [diagnose = actions.diagnose] {
        shell.popover->close();
        diagnose([](const QString& text, bool) {
            if (!shell.diagnosis)
                shell.diagnosis = std::make_unique<DiagnosisWindow>();
            shell.diagnosis->showReport(text);
        });
    };
    actions.hasIcon = [] { return shell.status && shell.status->host() != StatusController::Host::none; };
    control->setActions(actions);

    shell.settings = std::make_unique<SettingsWindow>(SettingsTabState::shared(), [&, actions] {
        return new SettingsView(SettingsTabState::shared(), store, engine, updater, LoginModel::shared(),
                                clock, actions);
    });
    shell.popover->setContentFactory([&, actions] {
        return new MenuView(engine, store, updater, clock, MenuView::defaultQuick(), actions, shell.popover);
    });

    // While a window shows the engine's live values it ticks every second, also when off. Once the
    // last one has closed and its widgets are gone, the heap they used goes back to the system.
    static QTimer trim;
    trim.setSingleShot(true);
    trim.setInterval(kTrimDelayMs);
    QObject::connect(&trim, &QTimer::timeout, [] { malloc_trim(0); });
    const auto watch = [] {
        const bool open = shell.popover->isVisible() || shell.settings->window();
        Engine::shared().setWatched(open);
        if (open)
            trim.stop();
        else
            trim.start();
    };
    QObject::connect(shell.popover, &Popover::shown, shell.popover, watch);
    QObject::connect(shell.popover, &Popover::closed, shell.popover, watch);
    QObject::connect(shell.settings.get(), &SettingsWindow::openChanged, shell.settings.get(), watch);

    // 2. The engine, 3. the updater, 4. the tray item.
    engine.start();
    updater.start();
    shell.status = std::make_unique<StatusController>(
        engine, store, *shell.popover, clock,
        StatusController::Actions{[] { shell.settings->show(SettingsTab::general); },
                                  [] { QCoreApplication::quit(); }},
        QDBusConnection::sessionBus());
    shell.status->setup();
    // The status item knows when the GNOME Shell extension is Morvane's panel; the bus's label
    // counts down each second only then.
    const auto followPanel = [control] {
        control->setPanelShown(shell.status->host() == StatusController::Host::gnomeShell);
    };
    QObject::connect(shell.status.get(), &StatusController::hostChanged, control, followPanel);
    followPanel();
    // The first content is built once the tray item is on its way to the panel: built on the first
    // click, it would load the font configuration then and the popover would come a few hundred
    // milliseconds late. Later ones are built on opening (a few milliseconds).
    QTimer::singleShot(0, shell.popover, [] { shell.popover->prepare(); });
    shell.service->onOpenPopover = [] { shell.status->toggle(QPoint()); };
    // On GNOME without a tray, the top bar's Morvane is the extension: say how to turn it on. The
    // shell's extensions are up before the session's programs start; a moment's grace covers a
    // Morvane started with the session.
    shell.extensionHint = std::make_unique<ExtensionHint>(QDBusConnection::sessionBus(), store,
                                                          ExtensionHint::standardDataDirs());
    QTimer::singleShot(2000, shell.popover, [] {
        if (shell.status->host() == StatusController::Host::none)
            shell.extensionHint->check();
    });

    // 5. The first launch opens the settings window once.
    if (!defaults.value(kOnboardedKey).toBool()) {
        defaults.setValue(kOnboardedKey, true);
        shell.settings->show(SettingsTab::general);
    }
    return app->exec();
}

} // namespace morvane
