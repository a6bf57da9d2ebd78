// Morvane: keeps the computer awake and its user counted as active, from the panel.
#include "Cli.h"
#include "ControlClient.h"
#include "MorvaneApp.h"
#include "Snapshot.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// Commands for the running instance: a core application and the session bus, nothing else (no
// display, no engine, no settings), so that key bindings and scripts get their answer at once.
int runClient(int argc, char** argv, const morvane::cli::Parsed& parsed) {
    using morvane::cli::Action;
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "morvane: %s\n", parsed.error.toLocal8Bit().constData());
        if (parsed.showUsage)
            std::fputs(morvane::cli::usage().toLocal8Bit().constData(), stderr);
        return morvane::cli::kExitUsage;
    }
    if (parsed.request.action == Action::help) {
        std::fputs(morvane::cli::usage().toLocal8Bit().constData(), stdout);
        return morvane::cli::kExitOk;
    }
    QCoreApplication app(argc, argv);
    if (parsed.request.action == Action::version) {
        std::printf("%s\n", morvane::cli::versionLine().toLocal8Bit().constData());
        return morvane::cli::kExitOk;
    }
    return morvane::cli::runCommand(parsed.request);
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const morvane::cli::Parsed parsed = morvane::cli::parse(arguments);
    if (!parsed.error.isEmpty() || parsed.request.action != morvane::cli::Action::runApp) {
        const int code = runClient(argc, argv, parsed);
        // Qt 6.4: while static destructors run, QtDBus's connection thread may still dispatch a
        // bus message and warn about metatypes already gone. The client holds nothing that needs
        // tearing down, so it leaves without them.
        std::fflush(nullptr);
        std::_Exit(code);
    }

    const bool snapshot = morvane::Snapshot::requested(argc, argv);
    const bool display =
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!display) {
        if (!snapshot) {
            std::fprintf(stderr,
                         "morvane: no hay una sesión gráfica (DISPLAY y WAYLAND_DISPLAY están vacías); "
                         "Morvane necesita un escritorio para su ícono\n");
            return 1;
        }
        // Pictures need no screen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // On a Wayland session with XWayland the windows go through X: there the popover opens at the
    // tray icon, where the compositor would place a Wayland window wherever it likes. The engine's
    // adapters follow the session itself, not Qt's platform.
    const bool throughXWayland = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
                                 !qEnvironmentVariableIsEmpty("DISPLAY") &&
                                 !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (throughXWayland)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    // Not for the programs we start (the browser showing the help page).
    if (throughXWayland)
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QApplication::setDesktopFileName(QStringLiteral("app.morvane.Morvane"));
    return morvane::runApplication(QApplication::arguments());
}
