// The application itself: everything but the command-line client, in a module that `morvane` loads
// only to run the application, so that commands to a running Morvane load none of its libraries.
#include "Diagnosis.h"
#include "DisplayPlatform.h"
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
        // An X display Qt cannot start on (see below) is probed without windows too.
        const bool xOnly = display && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
                           morvane::DisplayPlatform::choose().name == "xcb";
        if (!xOnly) {
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
    // Qt aborts when its platform cannot start; look first and say why in one line.
    const auto platform = morvane::DisplayPlatform::choose();
    if (!platform.problem.isEmpty() && platform.name.isEmpty()) {
        if (!snapshot) {
            std::fprintf(stderr, "morvane: no se puede abrir una ventana: %s\n",
                         platform.problem.toLocal8Bit().constData());
            return 1;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (platform.forced && !platform.name.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", platform.name);
    }
    if (!platform.fallback.isEmpty())
        std::fprintf(stderr, "morvane: %s\n", platform.fallback.toLocal8Bit().constData());
    QApplication app(argc, argv);
    // Not for the programs we start (the browser showing the help page).
    if (platform.forced && !platform.name.isEmpty())
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QApplication::setDesktopFileName(QStringLiteral("app.morvane.Morvane"));
    return morvane::runApplication(QApplication::arguments());
}
