// The application itself: everything but the command-line client, in a module that `morvane` loads
// only to run the application, so that commands to a running Morvane load none of its libraries.
#include "Diagnosis.h"
#include "MorvaneApp.h"
#include "Snapshot.h"

#include <QApplication>

#include <cstdio>

extern "C" Q_DECL_EXPORT int morvane_app_main(int argc, char** argv) {
    const bool snapshot = morvane::Snapshot::requested(argc, argv);
    const bool display =
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (argc > 1 && qstrcmp(argv[1], "--diagnose") == 0) {
        // The client found no Morvane running. A display, where there is one, lets the probe see
        // an XEmbed tray; without one the session's adapters are probed all the same.
        if (!display || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            QCoreApplication app(argc, argv);
            return morvane::runDiagnosis();
        }
        QApplication app(argc, argv);
        return morvane::runDiagnosis();
    }
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
