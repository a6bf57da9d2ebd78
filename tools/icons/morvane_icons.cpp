// morvane_icons THEME_DIR [PANEL_DIR]: writes the application icon into a hicolor icon theme folder,
// as SVG and as PNG at every size launchers ask for, and the panel icon's states for the GNOME Shell
// extension into PANEL_DIR. Run by the build; the installers copy the result.
#include "AppIcon.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s THEME_DIR [PANEL_DIR]\n", argv[0]);
        return 2;
    }
    // Painting needs no display; the offscreen platform keeps the build free of one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString error = morvane::appicon::writeTheme(QString::fromLocal8Bit(argv[1]));
    if (error.isEmpty() && argc == 3)
        error = morvane::appicon::writePanelIcons(QString::fromLocal8Bit(argv[2]));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "morvane_icons: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
