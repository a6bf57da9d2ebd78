// Morvane: keeps the computer awake and its user counted as active, from the panel.
#include "MorvaneApp.h"
#include "Snapshot.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QApplication::setDesktopFileName(QStringLiteral("app.morvane.Morvane"));
    return morvane::runApplication(QApplication::arguments());
}
