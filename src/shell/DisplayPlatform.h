#pragma once

#include <QByteArray>
#include <QString>

namespace morvane {

// Which Qt platform the application's windows use, chosen before QApplication exists. Qt aborts
// the process when its platform plugin is missing or cannot reach its display server; we look
// first, so that a user gets one line naming the variable and the package instead of a core dump.
struct DisplayPlatform {
    QByteArray name;     // the platform to start (empty when none can start)
    QString problem;     // why none can start: one line, without the program's prefix
    QString fallback;    // why `name` is not the first choice: one line for the log, or empty
    bool forced = false; // `name` was chosen here, not by QT_QPA_PLATFORM

    // Chooses from QT_QPA_PLATFORM (each of its ';'-separated names in turn), else from the session:
    // X through XWayland where both displays are set, Wayland where only WAYLAND_DISPLAY is or where
    // the X display refuses.
    static DisplayPlatform choose();
};

} // namespace morvane
